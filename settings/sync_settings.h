#pragma once
// SyncSettings: everything a run needs to know about the account, the server
// and the proxy, read from "sync.properties" and from the handheld's and the
// PC's registries. Missing settings read as their defaults, and defaults that
// are not empty are written back so the handheld holds every key it uses.
//
// While a SyncSettings exists the user's Internet settings "ProxyHttp1.1" and
// "EnableHttp1_1" are off: the constructor switches them off (Http11Off)
// and they are switched on again when it goes.
//
// Thread safety: none; used by the thread that runs the sync.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/server_link.h"
#include "platform/ports.h"
#include "settings/desktop_settings.h"

namespace hhsync {

class PropertySet;

// The server used when the handheld names none ("baseurl").
inline constexpr const char* kDefaultBaseUrl = "http://sync.tessary.com/zavrik";

class SyncSettings {
 public:
  // Reads every setting; properties may be null (treated as empty).
  SyncSettings(const Ports& ports, const PropertySet* properties);
  ~SyncSettings();
  SyncSettings(const SyncSettings&) = delete;
  SyncSettings& operator=(const SyncSettings&) = delete;

  // Handheld settings: registryPath + name under HKEY_LOCAL_MACHINE of the
  // handheld. A missing key reads as the default and is created with it when
  // the default is not empty.
  std::string GetDeviceSetting(const std::string& name, const std::string& defaultValue);
  void SetDeviceSetting(const std::string& name, const std::string& value);
  // The handheld settings this object could not read (and so took as their
  // defaults) or could not write, by name; empty when every one worked.
  const std::vector<std::string>& unreadSettings() const { return unread_; }
  const std::vector<std::string>& unwrittenSettings() const { return unwritten_; }
  // The settings in the PC's registry, under the same registry path.
  DesktopSettings& desktop() { return desktop_; }

  // Handheld status hand-over: reads the setting and, when it is "OK" (any
  // case), writes "DONE" over it and returns true.
  bool CheckDbpOk();
  bool CheckDllOk();
  std::string GetDbp();
  std::string GetDt();
  // "sd6" as last read (at construction or by RefreshSd6).
  const std::string& GetSd6() const { return sd6_; }
  // Reads "sd6" from the handheld again into the field and returns it.
  const std::string& RefreshSd6();
  // Writes "NO" into "ni"; the field keeps its value.
  void ClearNi();
  // Clears the field and writes "NO" into "sra".
  void ClearSra();

  // How requests reach the server, for the run's ServerLink.
  ProxyConfig proxyConfig() const { return {useProxy_, proxy_ + ":" + proxyport_, proxyHeaders_}; }

  // Request URLs: the profile request and the resource status request.
  std::string ProfileUrl();
  std::string ResourceUrl();

  // Opens the first-run page ("furl"); nothing when it is empty.
  void OpenFirstRunPage();
  // Opens loginUrl + "?cmd=err&code=" + code; returns the launcher's result.
  bool OpenErrorPage(const std::string& code);

  std::string partner() const { return partner_; }
  std::string product() const { return product_; }
  std::string registryPath() const { return registryPath_; }
  std::string baseUrl() const { return baseUrl_; }
  std::string loginUrl() const { return loginUrl_; }
  std::string pu() const { return pu_; }
  std::string nu() const { return nu_; }
  std::string pv() const { return pv_; }
  std::string proxy() const { return proxy_; }
  std::string proxyport() const { return proxyport_; }
  std::string username() const { return username_; }
  std::string password() const { return password_; }
  std::string proxyHeaders() const { return proxyHeaders_; }
  bool useProxy() const { return useProxy_; }
  bool logEnabled() const { return logEnabled_; }
  bool sra() const { return sra_; }
  bool ni() const { return ni_; }

  // The proxy request header block for a user name and password: the
  // standard headers, a Basic credentials header when user is not empty,
  // and a final CR LF.
  static std::string BuildProxyHeaders(const std::string& user, const std::string& password);

 private:
  bool CheckOk(const std::string& name);

  Ports ports_;
  std::string registryPath_;
  DesktopSettings desktop_;
  std::string partner_;
  std::string product_;
  std::string proxy_;
  std::string proxyport_;
  std::string username_;
  std::string password_;
  std::string proxyHeaders_;
  bool useProxy_ = false;
  bool logEnabled_ = false;
  bool sra_ = false;
  bool ni_ = false;
  std::string baseUrl_;
  std::string loginUrl_;
  std::string pu_;
  std::string nu_;
  std::string pv_;
  std::string sd6_;
  std::vector<std::string> unread_;
  std::vector<std::string> unwritten_;
  // Declared last: switched on again before anything else goes.
  std::optional<Http11Off> http11Off_;
};

// Base64 of bytes with the standard alphabet and "=" padding.
std::string Base64Encode(const std::string& bytes);

}  // namespace hhsync
