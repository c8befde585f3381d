// The play queue.
#pragma once

#include "state/records.h"

#include <vector>

std::vector<Song>& queuelist_get();
void queuelist_dump();
void init_qlist();
