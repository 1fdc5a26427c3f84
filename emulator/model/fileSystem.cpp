#include "fileSystem.h"

#include <algorithm>

namespace kvtoken {

namespace {

void appendTlv(Bytes& out, uint8_t tag, const Bytes& value)
{
    out.push_back(tag);
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

// Access mode 00, then the read/update and administration blocks: the
// administrator may change the object, nobody reads it out.
const Bytes rsfAccessConditions = {0x00, 0x01, 0x02, 0x02, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0x02, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t lifeCycleOperational = 0x05;
constexpr uint8_t profileIndicator = 0x81;

}  // namespace

FileNode::FileNode() : accessConditions(rsfAccessConditions) {}

FileNode* FileNode::child(uint16_t childId) const
{
    for (const auto& node : children)
        if (node->id == childId)
            return node.get();
    return nullptr;
}

FileNode& FileNode::add(std::unique_ptr<FileNode> node)
{
    node->parent = this;
    children.push_back(std::move(node));
    return *children.back();
}

Bytes fcpOf(const FileNode& node)
{
    const bool mva = node.kind == FileKind::Mva;
    Bytes items;
    Bytes descriptor{static_cast<uint8_t>(node.kind), 0x00};
    if (mva) {
        appendBigEndian(descriptor, node.maxRecordSize, 2);
        descriptor.push_back(static_cast<uint8_t>(node.records.size()));
    }
    appendTlv(items, 0x82, descriptor);
    if (mva) {
        Bytes size;
        appendBigEndian(size, uint32_t{node.maxRecordSize} * node.maxRecords, 2);
        appendTlv(items, 0x80, size);
    }
    appendTlv(items, 0x83, {static_cast<uint8_t>(node.id >> 8), static_cast<uint8_t>(node.id)});
    if (node.kind == FileKind::Rsf || mva) {
        Bytes parameters = node.parameters;
        parameters[3] = static_cast<uint8_t>(node.maxAttempts << 4 | (node.remainingAttempts & 0x0F));
        appendTlv(items, 0x85, parameters);
        appendTlv(items, 0x86, node.accessConditions);
    }
    if (mva) {
        appendTlv(items, 0x8F, {profileIndicator});
        Bytes statuses;
        for (const auto& record : node.records)
            statuses.push_back(record.status);
        Bytes recordStatus;
        appendTlv(recordStatus, 0xC0, statuses);
        appendTlv(items, 0xA5, recordStatus);
    }
    appendTlv(items, 0x8A, {lifeCycleOperational});
    Bytes fcp;
    appendTlv(fcp, 0x62, items);
    return fcp;
}

FileSystem::FileSystem(std::unique_ptr<FileNode> root) : root_(std::move(root)), folder_(root_.get())
{
}

void FileSystem::reset()
{
    folder_ = root_.get();
    file_ = nullptr;
}

Reply FileSystem::select(FileNode& node)
{
    if (node.kind == FileKind::Folder) {
        folder_ = &node;
        file_ = nullptr;
    } else {
        folder_ = node.parent;
        file_ = &node;
    }
    return success(fcpOf(node));
}

FileNode* FileSystem::find(const Bytes& path) const
{
    FileNode* node = root_.get();
    for (size_t i = 0; i + 1 < path.size() && node; i += 2) {
        if (node->kind != FileKind::Folder)
            return nullptr;
        node = node->child(static_cast<uint16_t>(path[i] << 8 | path[i + 1]));
    }
    return node;
}

Reply FileSystem::selectByPath(const Bytes& path)
{
    if (path.size() % 2 != 0)
        return status(sw::badData);
    FileNode* node = find(path);
    return node ? select(*node) : status(sw::fileNotFound);
}

Reply FileSystem::selectFirst()
{
    if (folder_->children.empty())
        return status(sw::fileNotFound);
    return select(*folder_->children.front());
}

Reply FileSystem::selectNext(uint16_t previousId)
{
    // A walker that met a sub-folder may ask for its successor without
    // climbing back first: the folder itself then names the entry.
    FileNode* folder = folder_;
    if (!folder->child(previousId) && folder->id == previousId && folder->parent)
        folder = folder->parent;
    auto& entries = folder->children;
    const auto previous = std::find_if(entries.begin(), entries.end(),
                                       [&](const auto& node) { return node->id == previousId; });
    if (previous == entries.end() || std::next(previous) == entries.end())
        return status(sw::fileNotFound);
    return select(**std::next(previous));
}

Reply FileSystem::selectParent()
{
    if (!folder_->parent)
        return status(sw::fileNotFound);
    folder_ = folder_->parent;
    file_ = nullptr;
    return status(sw::ok);
}

}  // namespace kvtoken
