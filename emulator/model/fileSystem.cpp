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

}  // namespace

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
    Bytes items;
    appendTlv(items, 0x82, {static_cast<uint8_t>(node.kind), 0x00});
    appendTlv(items, 0x83, {static_cast<uint8_t>(node.id >> 8), static_cast<uint8_t>(node.id)});
    if (node.kind == FileKind::Rsf) {
        const auto attempts = static_cast<uint8_t>(node.maxAttempts << 4 | (node.remainingAttempts & 0x0F));
        appendTlv(items, 0x85, {0x00, 0x00, 0x00, attempts, 0x00, 0x00});
        appendTlv(items, 0x86, rsfAccessConditions);
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

Reply FileSystem::selectByPath(const Bytes& path)
{
    if (path.size() % 2 != 0)
        return status(sw::badData);
    FileNode* node = root_.get();
    for (size_t i = 0; i < path.size(); i += 2) {
        if (node->kind != FileKind::Folder)
            return status(sw::fileNotFound);
        node = node->child(static_cast<uint16_t>(path[i] << 8 | path[i + 1]));
        if (!node)
            return status(sw::fileNotFound);
    }
    return select(*node);
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
