// PublishTool: the maker's scripts/publish-update run from a test under Wine, so that the tests' key pairs
// and signed answers come from the same tool the maker uses; and the key resource of a copy of the program
// replaced with a test key.
//
// Classes: PublishTool.
#pragma once

#include "tests/common/TempFolder.h"
#include <string>
#include <utility>
#include <vector>

class PublishTool {
public:
    typedef std::vector<std::pair<std::string, std::string>> Files; // name, content

    // A key pair in folder: name + ".key" (secret) and name + ".pub"; 1 when both were made in time.
    static int MakeKeys(const TempFolder &folder, const char *name);
    // Writes release into a release folder of work, runs "publish-update answer --key <secretKey>
    // <arguments>" for it and returns the answer's bytes in answer; 1 when it came in time. The published
    // files are the release files unchanged.
    static int MakeAnswer(const TempFolder &work, const std::string &secretKey, const Files &release,
                          const std::string &arguments, std::string &answer);
    // Replaces the update key resource of the program file with the 32 bytes of a public key file.
    static int SetProgramKey(const std::string &program, const std::string &publicKey);
    // Quoted Unix path of a Windows path, for the tool's command line.
    static std::string Unix(const std::string &windowsPath);
};
