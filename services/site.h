#pragma once

#include <QString>

namespace tagora {

// The maker's web site, shared by the update check, the product page and the download
// pages of the companion programs.
//
// By default "https://www.corvane.com". The environment variable TAGORA_SITE replaces it,
// so tests and users can point the program at another server: either a full address with
// scheme and optional port ("http://127.0.0.1:8080") or a bare host ("mirror.example"),
// which gets "https://". A trailing "/" is dropped.
QString siteAddress();

// The host part of siteAddress() (with ":port" when one is given), as messages name it.
QString siteHost();

// The product page: siteAddress() + "/tagora/".
QString productPage();

} // namespace tagora
