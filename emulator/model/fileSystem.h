#pragma once

#include "apdu.h"

#include <memory>
#include <vector>

namespace kvtoken {

// The descriptor byte of an FCP (tag 82).
enum class FileKind : uint8_t { Folder = 0x38, Rsf = 0x10, Ef = 0x01 };

struct FileNode {
    uint16_t id = 0;
    FileKind kind = FileKind::Folder;
    // What the token checksums, and the checksum it stored when the object
    // was written; a damaged object's content no longer matches it.
    Bytes content;
    uint32_t reference = 0;
    uint8_t maxAttempts = 10;
    uint8_t remainingAttempts = 10;
    FileNode* parent = nullptr;
    std::vector<std::unique_ptr<FileNode>> children;

    bool intact() const { return crc32(content) == reference; }
    FileNode* child(uint16_t childId) const;
    FileNode& add(std::unique_ptr<FileNode> node);
};

// The object's file control parameters: template 62 with 82, 83, for RSF
// objects 85 (attempt counters) and 86 (access conditions), and 8A.
Bytes fcpOf(const FileNode& node);

// The token's file tree with its current folder and current file. SELECT
// answers carry the FCP of what they selected; selecting a folder makes it
// the current folder, selecting a file makes its folder current.
class FileSystem {
public:
    explicit FileSystem(std::unique_ptr<FileNode> root);

    void reset();
    Reply selectByPath(const Bytes& path);
    Reply selectFirst();
    Reply selectNext(uint16_t previousId);
    Reply selectParent();
    const FileNode* currentFile() const { return file_; }
    const FileNode& currentFolder() const { return *folder_; }

private:
    Reply select(FileNode& node);

    std::unique_ptr<FileNode> root_;
    FileNode* folder_;
    FileNode* file_ = nullptr;
};

}  // namespace kvtoken
