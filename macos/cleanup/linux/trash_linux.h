// Moving an item into a freedesktop.org trash folder: a rename into "files" plus its
// ".trashinfo" record in "info". Nothing is ever copied and deleted.
#pragma once

#include <string>

#include "macos/cleanup/platform.h"
#include "qv/result.h"

namespace qv::cleanup {

// The user's home trash: $XDG_DATA_HOME/Trash when that variable holds an absolute path, else
// <home>/.local/share/Trash, else (no absolute home) the empty text, which no move accepts.
std::string HomeTrashFolder(const std::string& home);

// Moves item (an absolute path) into trash_folder (an absolute path), creating the folder and its
// "files" and "info" subfolders when missing. On a name collision the item gets a unique name
// ("Quorvel 2.app" becomes "Quorvel 2 (2).app"). Returns the item's new path. A move that would
// cross file systems fails (EXDEV) and leaves the item where it was.
qv::Result<std::string, TrashError> MoveToTrashFolder(const std::string& item,
                                                      const std::string& trash_folder);

}  // namespace qv::cleanup
