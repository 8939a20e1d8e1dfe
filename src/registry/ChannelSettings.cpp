#include "registry/ChannelSettings.h"

namespace korvane::registry {

void SslOptions::SetSSLVersions(TIdSSLVersions versions) {
  constexpr TIdSSLVersion kSingles[] = {sslvSSLv2, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2};
  for (TIdSSLVersion single : kSingles) {
    if (versions == SslVersionBit(single)) {
      versions_ = versions;
      method_ = single;
      return;
    }
  }
  method_ = sslvSSLv23;
  versions_ = versions;
  if ((versions & SslVersionBit(sslvSSLv23)) != 0) {
    versions_ = static_cast<TIdSSLVersions>(versions & ~SslVersionBit(sslvSSLv23));
    if (versions_ == 0) versions_ = 61;
  }
}

}  // namespace korvane::registry
