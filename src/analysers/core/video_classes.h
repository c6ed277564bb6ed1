#pragma once
// The video classes (sample description fourccs, aliases already mapped) that
// one analyser serves, as its registry row lists them.

#include <cstddef>
#include <cstring>
#include <string>

struct VideoClasses {
    // ProRes has the most: six profiles.
    static constexpr size_t kMax = 6;
    const char* fourccs[kMax] = {};  // unused entries are null

    bool empty() const { return fourccs[0] == nullptr; }
    bool contains(const std::string& videoClass) const {
        for (const char* c : fourccs)
            if (c && videoClass == c)
                return true;
        return false;
    }
};
