#pragma once

#include "apdu.h"

#include <memory>
#include <vector>

namespace kvtoken {

// The descriptor byte of an FCP (tag 82). An RSF object is a PIN: a
// global PIN, or a local PIN in the local-authentication folder; an MVA is
// a record file of secrets.
enum class FileKind : uint8_t { Folder = 0x38, Rsf = 0x10, Mva = 0x14, Ef = 0x01 };

// Record-status bytes of an MVA's slots.
constexpr uint8_t recordInUse = 0x01;
constexpr uint8_t recordErased = 0x03;

struct MvaRecord {
    Bytes value;
    uint8_t status = recordInUse;
};

struct FileNode {
    uint16_t id = 0;
    FileKind kind = FileKind::Folder;
    // What the token checksums, and the checksum it stored when the object
    // was written; a damaged object's content no longer matches it.
    Bytes content;
    uint32_t reference = 0;
    uint8_t maxAttempts = 10;
    uint8_t remainingAttempts = 10;
    // A PIN's value; none for a local PIN whose value was never set.
    std::optional<Bytes> pin;
    // The six bytes of tag 85 (byte 3 is written from the attempt counters)
    // and the fifteen of tag 86, as the object was created.
    Bytes parameters = Bytes(6, 0x00);
    Bytes accessConditions;
    // An MVA's limits and slots.
    uint16_t maxRecordSize = 0;
    uint8_t maxRecords = 0;
    std::vector<MvaRecord> records;
    FileNode* parent = nullptr;
    std::vector<std::unique_ptr<FileNode>> children;

    FileNode();
    bool intact() const { return crc32(content) == reference; }
    bool blocked() const { return remainingAttempts == 0; }
    FileNode* child(uint16_t childId) const;
    FileNode& add(std::unique_ptr<FileNode> node);
};

// The object's file control parameters: template 62 with 82, 83, for RSF
// objects 85 (attempt counters) and 86 (access conditions), and 8A. An
// MVA's adds its record information to 82, its size (80), the profile
// indicator 8F and the record-status bytes (A5 with C0).
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
    // A file just created becomes the current file, as CREATE FILE leaves it.
    void makeCurrent(FileNode& node) { select(node); }
    const FileNode* currentFile() const { return file_; }
    FileNode* currentFile() { return file_; }
    FileNode& currentFolder() { return *folder_; }
    // The object at a path from the root, or none.
    FileNode* find(const Bytes& path) const;
    const FileNode& currentFolder() const { return *folder_; }

private:
    Reply select(FileNode& node);

    std::unique_ptr<FileNode> root_;
    FileNode* folder_;
    FileNode* file_ = nullptr;
};

}  // namespace kvtoken
