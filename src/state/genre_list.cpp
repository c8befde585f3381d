#include "state/genre_list.h"

namespace {

std::vector<Genre> genres;

} // namespace

std::vector<Genre>& getGenres() {
    return genres;
}

void init_genrelist() {
    genres.clear();
}
