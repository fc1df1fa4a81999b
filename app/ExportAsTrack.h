#pragma once
// The export tab's list and any WAV file: its FORMAT column (integer PCM, float, or a format
// the export can't read), and a context menu entry, "Export as track…", that makes a listed
// file the file of track N for the next export.
#include <string>

namespace th {

class TMAIN_FORM;

// The FORMAT cell of the list's row for `path`: "PCM", "float", or "?" when the export can't
// read the file's samples.
std::string FormatColumnText(const std::string& path);

// Adds the context menu to the form's list.
void InstallExportAsTrack(TMAIN_FORM& form);

} // namespace th
