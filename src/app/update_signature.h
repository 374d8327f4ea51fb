// Whether a downloaded program may take the running program's place. The
// version file, its MD5 and the program all come over plain HTTP from one
// host, so the MD5 proves only that the two agree: a signed program
// therefore takes only an update that carries a valid Authenticode
// signature by its own publisher. An unsigned program (a development build)
// keeps to the MD5 alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The publisher of a program file.
struct ProgramPublisher {
    // The file carries an embedded signature: present, whether or not it
    // verifies (a signed release whose certificate has expired stays signed).
    bool bSigned = false;
    // The encoded subject name of its signer's certificate; empty when it
    // cannot be read, and then no update matches it.
    std::vector<uint8_t> subject;
};

// Reads the publisher of the program file at path (unsigned when the file
// cannot be read as a program).
ProgramPublisher ReadProgramPublisher(const std::wstring& path);

// True only when the file at path carries a valid Authenticode signature
// whose signer certificate has exactly the given subject name: the system
// trusts it (no revocation check, no network fetch), its chain passes the
// Authenticode policy, it has one signer, the signature over the signed
// attributes verifies, the signed message digest is that of the signed
// content, the image digest in that content is the file's own, and the
// certificate table ends the file.
bool IsSignedByPublisher(const std::wstring& path, const std::vector<uint8_t>& subject);

// The rule of the update: an unsigned running program takes any update that
// passed its MD5 check; a signed one only one signed by its publisher.
bool MayReplaceProgram(const ProgramPublisher& running, const std::wstring& update);
