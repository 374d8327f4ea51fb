// Whether a downloaded program may take the running program's place. The
// version file, its MD5 and the program all come over plain HTTP from one
// host, so the MD5 proves only that the two agree: a signed program
// therefore takes only a later version of itself that carries a valid
// Authenticode signature by its own publisher under its own root. An
// unsigned program (a development build) keeps to the MD5 alone.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/version_resource.h"
#include "ui/framework/scoped_win.h"

// The publisher of a program file.
struct ProgramPublisher {
    // The file was read whole and parsed as a program. Only such a file
    // without a certificate table counts as unsigned: one that could not be
    // read (held by another program, access denied, a layout not parsed)
    // takes no update at all.
    bool bRead = false;
    // The file carries an embedded signature: present, whether or not it
    // verifies (a signed release whose certificate has expired stays signed).
    bool bSigned = false;
    // The encoded subject name of its signer's certificate; empty when it
    // cannot be read, and then no update matches it.
    std::vector<uint8_t> subject;
    // The SHA-256 of the SubjectPublicKeyInfo of the root its signer's chain
    // ends at; empty when no chain could be built.
    std::vector<uint8_t> rootKey;
    // Its version resource; bVersion false when it has none.
    bool bVersion = false;
    ProgramVersion version;
};

// Reads the publisher of the program file at path.
ProgramPublisher ReadProgramPublisher(const std::wstring& path);

// The SHA-256 values (64 hexadecimal digits each) of the root keys pinned
// at build time besides the running program's own root, from the build
// configuration.
std::vector<std::string> PinnedRootKeys();

// The verdict on a downloaded program. An accepted download that was
// verified stays open (shared for reading and deletion only, so that
// nobody writes it) until the verdict goes: the file moved into place is
// the file verified.
struct UpdateVerdict {
    bool bAccepted = false;
    const char* reason = "";   // for the log
    CScopedHandle<HANDLE, CHandleDeleter> file;
};

// The rule of the update. An unsigned running program takes any update that
// passed its MD5 check. A running program that could not be read takes none.
// A signed one takes only a file that carries a valid Authenticode
// signature: the system trusts its chain (no revocation check, no network
// fetch), which passes the Authenticode policy and ends at the running
// program's own root or one of pinnedRootKeys; one signer, whose
// certificate is valid now (a timestamp never extends it), may sign code
// and has the running program's signer's subject; the signature over the
// signed attributes verifies, the signed message digest is that of the
// signed content, the image digest in that content is the file's own, and
// the certificate table ends the file; and its version resource names
// ProductName "Quillet", OriginalFilename "Quillet.exe" and a file version
// higher than the running program's.
UpdateVerdict JudgeUpdate(const ProgramPublisher& running, const std::wstring& update,
                          const std::vector<std::string>& pinnedRootKeys = PinnedRootKeys());
