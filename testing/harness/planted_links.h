// What another user of a shared temporary folder can plant there: symbolic links to places of their
// choice, and the deletion of a file that its owner holds open. Under Wine both are done on the Unix side
// (Wine's CreateSymbolicLinkW makes nothing, and its sharing rules bind only Windows programs), which is
// also how Wine shows them: a link to a directory with the reparse bit, a link to a file as a plain file.
#pragma once

#include <string>

namespace morix::test {

// Plants a symbolic link at `link` pointing at `target` (a directory or a file); true once it exists.
bool plantSymbolicLink(const std::wstring& link, const std::wstring& target);
// Removes a planted link itself, never what it points at.
void removeSymbolicLink(const std::wstring& link);
// Deletes a file whatever handles are open on it, as a cleaner outside Windows' sharing rules would;
// true once it is gone.
bool deleteBehindItsOwnersBack(const std::wstring& path);

} // namespace morix::test
