#include "state/genre_list.h"

namespace {

std::vector<Genre> genres;

} // namespace

void setGenres(const Self& answer) {
    read_list(answer, GENRE_LIST_RULE, genres);
}

std::vector<Genre>& getGenres() {
    return genres;
}

void init_genrelist() {
    genres.clear();
}
