#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/DesktopProtocol.h"

// The request of one import as the service expects it: the body that carries the arguments, the
// text the signature covers, and the header lines.
namespace korvane::winclient {

using protocol::kImportPath;
using protocol::kMaxArguments;
using protocol::kMaxBodyBytes;
using protocol::kMethod;

// Each non-empty argument (UTF-8) followed by one NUL byte, in order. Raises ClientError, with the
// service's own text, for what the service would refuse anyway, so that it never leaves the
// desktop: -APITOKEN in any letter case (the registry's token is the server's), more than
// kMaxArguments arguments, more than kMaxBodyBytes bytes.
std::string RequestBody(const std::vector<std::string>& arguments);

// The text the request's HMAC-SHA256 covers.
std::string SigningText(std::string_view time, std::string_view nonce, std::string_view bodySha256Hex);

// The header lines the request adds to those the HTTP stack writes (Host, Content-Length), each
// ended by CR LF.
std::string RequestHeaders(std::string_view keyName, std::string_view time, std::string_view nonce,
                           std::string_view signatureHex);

}  // namespace korvane::winclient
