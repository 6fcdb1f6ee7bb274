#pragma once

#include "FixtureFolder.h"
#include "FixtureGenerator.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace sondrel::test {

// The fixture library for tests that only read it: the one CTest generated for the whole run
// (named by SONDREL_FIXTURE_LIBRARY), else one generated here once per process. Empty when it
// cannot be generated.
inline std::filesystem::path fixtureLibrary()
{
    static const std::filesystem::path path = [] {
        if (const char* shared = std::getenv("SONDREL_FIXTURE_LIBRARY"); shared && *shared) {
            const std::filesystem::path folder(shared);
            if (std::filesystem::exists(folder / std::string(fixtures::kManifestFileName)))
                return folder;
        }
        static const auto own = std::make_unique<FixtureFolder>();
        std::vector<fixtures::ManifestEntry> entries;
        return fixtures::generateLibrary(own->path(), entries).empty() ? own->path()
                                                                       : std::filesystem::path();
    }();
    return path;
}

} // namespace sondrel::test
