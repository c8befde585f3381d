// The genres the service offers, published in the status file by the
// caller of the setter.
#pragma once

#include "state/records.h"

#include <vector>

// Replaces the genres with those of the answer, ordered by their "sort".
void setGenres(const Self& answer);
std::vector<Genre>& getGenres();
void init_genrelist();
