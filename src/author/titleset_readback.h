// The table of contents' reading of a titleset information file: the titleset's size, category,
// stream attributes, titles and chapters, and whether it has a root menu. Every size, offset and
// count read is checked against the file itself first, so that a damaged or cut file fails the
// run with the field named instead of becoming a manager that players refuse.
#pragma once

#include <string>
#include <vector>

#include "author/model.h"

namespace author {

// Appends what the table of contents needs of one titleset information file.
void read_vts_ifo(const std::string& path, std::vector<TitlesetInfo>& table);

}  // namespace author
