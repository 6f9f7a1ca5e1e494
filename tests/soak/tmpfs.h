#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A small file system that can be filled up: a tmpfs mounted for the life of an object (root
// only), and files that take its space and its names.
namespace vantrel::soak {

class CTmpfsMount {
public:
    // Mounts a tmpfs of the given size and number of names (inodes) on dir, which must exist.
    CTmpfsMount(std::string dir, std::size_t bytes, unsigned inodes);
    // Unmounts; lazily when something still holds it, so it never outlives the test.
    ~CTmpfsMount();
    CTmpfsMount(const CTmpfsMount&) = delete;
    CTmpfsMount& operator=(const CTmpfsMount&) = delete;

    bool Mounted() const { return m_bMounted; }
    // Why it is not mounted.
    const std::string& Error() const { return m_strError; }

private:
    std::string m_strDir;
    bool m_bMounted = false;
    std::string m_strError;
};

// Fills the file system of dir: FillSpace with page-sized files until no data fits, FillNames
// with empty files until no name fits. Everything is given back by FreeAll and when the object
// goes.
class CDiskFiller {
public:
    explicit CDiskFiller(std::string dir);
    ~CDiskFiller();
    CDiskFiller(const CDiskFiller&) = delete;
    CDiskFiller& operator=(const CDiskFiller&) = delete;

    // False when the file system never reported itself full.
    bool FillSpace();
    bool FillNames();
    // Gives back that many pages of space.
    void FreePages(unsigned pages);
    void FreeAll();

private:
    std::string NextName();

    std::string m_strDir;
    std::vector<std::string> m_pages; // each holds one page
    std::vector<std::string> m_others;
    unsigned m_next = 0;
};

// Free blocks of the file system of path (statvfs).
unsigned long FreeBlocks(const std::string& path);

// Names beneath dir that a whole write never leaves: temporary files of any kind.
std::vector<std::string> TemporaryFilesBeneath(const std::string& dir);

} // namespace vantrel::soak
