#include "settings/request_urls.h"

#include <cstdio>

#include "base/version.h"
#include "settings/sync_settings.h"

namespace hhsync {

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto b = static_cast<uint8_t>(ch);
    if (b >= 0x27 && b <= 0x7A) {
      out += ch;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::string SyncSettings::ProfileUrl() {
  std::string dt = GetDt();
  std::string nrr = GetDeviceSetting("nrr", "0");
  return baseUrl_ + "/update/profile?su=" + UrlEncode(pu_) + "|" + sd6_ + "&p=" + partner_ +
         "&pl=ce&ver=" + ProgramVersion() + "&pv=" + pv_ + "&u=" + nu_ + "&pr=" + product_ +
         "&dt=" + UrlEncode(dt) + "&nrr=" + nrr;
}

std::string SyncSettings::ResourceUrl() {
  std::string dt = GetDt();
  return baseUrl_ + "/update/resource?pl=ce&x=SD6&p=" + partner_ + "&ver=" + ProgramVersion() +
         "&pv=" + pv_ + "&u=" + nu_ + "&su=" + UrlEncode(pu_) + "|" + sd6_ + "&pr=" + product_ +
         "&dt=" + UrlEncode(dt);
}

}  // namespace hhsync
