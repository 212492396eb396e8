#pragma once
// Removes the work folder with everything in it.

#include <string>

namespace vornel::builder {

// Deletes the folder at `path` (with or without a trailing "/") and everything in it, depth
// first, hidden entries included. A missing folder, or a path that is a link, does nothing. A
// symbolic link inside the tree is removed as a link: nothing outside the tree is ever touched.
// An entry that cannot be deleted stays, and so does every folder above it up to `path`.
// Reports nothing.
void DeleteFolderTree(const std::string& path);

} // namespace vornel::builder
