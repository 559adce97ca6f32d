#pragma once

#include <cstdint>
#include <vector>

#include "mail/uoexpress.h"

// The index records the tree walk finds: each appends one entry to list, and returns false
// when the record at pos fails its self-check. Every byte read is taken from budget.
bool readFolderRecord(Oe5Source& file, uint64_t pos, uint64_t& budget,
                      std::vector<Toe5_FolderInfo>& list);
bool readMessageRecord(Oe5Source& file, uint64_t pos, uint64_t& budget,
                       std::vector<Toe5_MessageInfo>& list);
