#include <NSVextra/FileTree.h>

#include <NSVextra/DbgSysOutput.h>
#include <NSVextra/Files.h>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace NSVextra {

bool FileTree::performOpRec(FileTNode* folder, int op, const std::string& dstFolder) {
    if (!folder || (op != kOpCopy && op != kOpRemove))
        return false;
    // A link in the destination stands for a folder elsewhere: removing goes
    // no further than the link itself, so that nothing outside the
    // destination is ever deleted.
    struct stat st {};
    if (op == kOpRemove && lstat(dstFolder.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (std::remove(dstFolder.c_str()) != 0) {
            DBG_ERROR(0, "failed to remove top folder");
            return false;
        }
        return true;
    }
    if (op == kOpCopy && !createFolder(dstFolder)) {
        DBG_ERROR(0, "failed to create top folder");
        return false;
    }
    for (TNode* child : folder->children) {
        auto* node = static_cast<FileTNode*>(child);
        const std::string dst = dstFolder + "/" + node->name;
        if (node->type == FileTNode::kTypeFolder) {
            if (!performOpRec(node, op, dst))
                return false;
            continue;
        }
        const bool done = op == kOpCopy ? copyFile(node->path, dst) : std::remove(dst.c_str()) == 0;
        if (!done) {
            DBG_ERROR(0, "failed to copy/remove file");
            return false;
        }
    }
    if (op == kOpRemove && rmdir(dstFolder.c_str()) != 0) {
        DBG_ERROR(0, "failed to remove top folder");
        return false;
    }
    return true;
}

bool FileTree::copyToFolder(const std::string& dstFolder) {
    return performOpRec(getRootNode(), kOpCopy, dstFolder);
}

bool FileTree::removeFiles(const std::string& dstFolder) {
    return performOpRec(getRootNode(), kOpRemove, dstFolder);
}

} // namespace NSVextra
