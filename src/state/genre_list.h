// The genres the service offers, published in the status file.
#pragma once

#include "state/records.h"

#include <vector>

std::vector<Genre>& getGenres();
void init_genrelist();
