#pragma once
// A TLS server's certificate held to the rules every client of this backend shares (Schannel
// under the SMTP socket, WinHTTP): trusted by the system or, byte for byte, by a PEM file of
// anchors; meant for a server; for the name asked for, an address only by an address entry.

#include "platform/win32/windows_api.h"

#include <wincrypt.h>

#include <string>

namespace quenvar::win32 {

// The certificates of the PEM file `path` in a memory store, or null with words saying why not.
HCERTSTORE loadAnchors(const std::string& path, std::string& why);

// Empty when `cert` chains to a trust anchor of the system's or of `anchors` (may be null) and
// is for `name`; else words saying why not. `urlRetrievalMs` bounds what the system may fetch to
// build the chain.
std::string checkCertificate(PCCERT_CONTEXT cert, const std::wstring& name, HCERTSTORE anchors,
                             DWORD urlRetrievalMs = 10'000);

// The bytes of `name` when it is an IP address: their count, else 0.
DWORD addressBytes(const std::wstring& name, BYTE (&address)[16]);

}  // namespace quenvar::win32
