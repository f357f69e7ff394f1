// File names handed to the format library, and the library's access to local files.
// FileNameToURL/URLToFileName convert between the program's file names (UTF-8) and the names
// given to the format library ("unicode:utf8:" + name for names outside the system code page).
// Local files are read and written through the program's own I/O, never through a library protocol.
#pragma once

#include <string>

namespace media {

// Called by the loader whenever libavformat has been bound. The library takes its I/O from us,
// so there is no protocol to register; it records that the file-name protocol is available.
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();

}  // namespace media
