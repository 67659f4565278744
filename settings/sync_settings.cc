#include "settings/sync_settings.h"

#include <algorithm>

#include "base/text.h"
#include "formats/sdat.h"
#include "platform/clock.h"
#include "platform/rapi.h"
#include "platform/registry.h"
#include "settings/registry_key.h"

namespace hhsync {

namespace {

constexpr uint32_t kMaxDeviceValueBytes = 1024;
// Tries of a handheld setting's read or write before it counts as failed.
constexpr int kDeviceReadAttempts = 2;

// Adds name to a list of settings once.
void Note(std::vector<std::string>* names, const std::string& name) {
  if (std::find(names->begin(), names->end(), name) == names->end()) names->push_back(name);
}

}  // namespace

std::string Base64Encode(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) |
                 (static_cast<uint8_t>(bytes[i + 1]) << 8) | static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string SyncSettings::BuildProxyHeaders(const std::string& user, const std::string& password) {
  std::string headers = kStandardHeaders;
  if (!user.empty()) {
    headers += "Proxy-authorization: Basic " + Base64Encode(user + ":" + password) + "\r\n";
  }
  headers += "\r\n";
  return headers;
}

SyncSettings::SyncSettings(const Ports& ports, const PropertySet* properties)
    : ports_(ports),
      registryPath_(properties ? properties->Get("registry") : std::string()),
      desktop_(*ports.registry, *ports.clock, *ports.recorder, registryPath_) {
  if (properties) {
    partner_ = properties->Get("partner");
    product_ = properties->Get("product");
  }
  std::string useProxyText = GetDeviceSetting("useproxy", "NO");
  loginUrl_ = GetDeviceSetting("loginurl", "");
  baseUrl_ = GetDeviceSetting("baseurl", kDefaultBaseUrl);
  std::string logText = GetDeviceSetting("log", "NO");
  pv_ = GetDeviceSetting("pv", "2.87");
  // A logging switch that could not be read is taken as on: the log is
  // what tells afterwards what went wrong, and the PC's own switch, read
  // otherwise, would be created for a choice the handheld may have made.
  logEnabled_ = EqualsNoCase(logText, "YES") ||
                std::find(unread_.begin(), unread_.end(), "log") != unread_.end();
  std::string sraText = GetDeviceSetting("sra", "NO");
  std::string niText = GetDeviceSetting("ni", "NO");

  http11Off_.emplace(desktop_);

  ni_ = EqualsNoCase(niText, "YES");
  sra_ = EqualsNoCase(sraText, "YES");
  useProxy_ = EqualsNoCase(useProxyText, "YES");

  proxy_ = GetDeviceSetting("proxy", "");
  int port = LeadingDigits(GetDeviceSetting("proxyport", ""));
  proxyport_ = std::to_string(port);
  if (port == 0) useProxy_ = false;

  pu_ = GetDeviceSetting("pu", "");
  sd6_ = GetDeviceSetting("sd6", "");
  username_ = GetDeviceSetting("username", "");
  password_ = GetDeviceSetting("password", "");

  if (useProxy_) proxyHeaders_ = BuildProxyHeaders(username_, password_);
  nu_ = GetDeviceSetting("nu", "0");
}

SyncSettings::~SyncSettings() = default;

std::string SyncSettings::GetDeviceSetting(const std::string& name,
                                           const std::string& defaultValue) {
  Rapi& rapi = *ports_.rapi;
  const std::u16string path = AnsiToWide(registryPath_ + name);
  // A call over the cable may fail once and succeed when asked again. Only a
  // key the handheld reports missing is created with its default: writing
  // the default after a failed read would replace the stored setting for
  // good (a server address, a logging switch).
  for (int attempt = 0; attempt < kDeviceReadAttempts; ++attempt) {
    CeHKey key = 0;
    const int32_t opened = rapi.CeRegOpenKeyEx(kHKeyLocalMachine, path, &key);
    if (opened == static_cast<int32_t>(ce_error::kFileNotFound)) {
      if (!defaultValue.empty()) SetDeviceSetting(name, defaultValue);
      return defaultValue;
    }
    if (opened != 0) continue;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    const int32_t read =
        rapi.CeRegQueryValueEx(key, std::u16string(), &type, &data, kMaxDeviceValueBytes);
    rapi.CeRegCloseKey(key);
    if (read == 0) return WideToAnsi(BytesToWide(data));
    // A value too long to read gives the default and is not rewritten. A key
    // without any value is one whose writing broke off half-way: it is
    // completed with the default like a missing key.
    if (read == static_cast<int32_t>(ce_error::kMoreData)) return defaultValue;
    if (read == static_cast<int32_t>(ce_error::kFileNotFound)) {
      if (!defaultValue.empty()) SetDeviceSetting(name, defaultValue);
      return defaultValue;
    }
  }
  Note(&unread_, name);
  return defaultValue;
}

void SyncSettings::SetDeviceSetting(const std::string& name, const std::string& value) {
  Rapi& rapi = *ports_.rapi;
  const std::u16string path = AnsiToWide(registryPath_ + name);
  const std::vector<uint8_t> data = WideToBytes(AnsiToWide(value));
  // A write that failed is tried once more: a setting left half-written
  // (the key without its value) is repaired by the next read at the latest.
  for (int attempt = 0; attempt < kDeviceReadAttempts; ++attempt) {
    CeHKey key = 0;
    const int32_t created = rapi.CeRegCreateKeyEx(kHKeyLocalMachine, path, &key);
    const int32_t set = rapi.CeRegSetValueEx(key, std::u16string(), kRegSz, data);
    rapi.CeRegCloseKey(key);
    if (created == 0 && set == 0) return;
  }
  Note(&unwritten_, name);
}

bool SyncSettings::CheckOk(const std::string& name) {
  if (!EqualsNoCase(GetDeviceSetting(name, ""), "OK")) return false;
  SetDeviceSetting(name, "DONE");
  return true;
}

bool SyncSettings::CheckDbpOk() { return CheckOk("dbpok"); }
bool SyncSettings::CheckDllOk() { return CheckOk("dllok"); }
std::string SyncSettings::GetDbp() { return GetDeviceSetting("dbp", ""); }
std::string SyncSettings::GetDt() { return GetDeviceSetting("dt", ""); }

const std::string& SyncSettings::RefreshSd6() {
  sd6_ = GetDeviceSetting("sd6", "");
  return sd6_;
}

void SyncSettings::ClearNi() { SetDeviceSetting("ni", "NO"); }

void SyncSettings::ClearSra() {
  sra_ = false;
  SetDeviceSetting("sra", "NO");
}

}  // namespace hhsync
