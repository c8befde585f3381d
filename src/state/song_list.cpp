#include "state/song_list.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// The remembered search shares the list it was read as: neither is changed
// once filled, only replaced.
using SharedStore = std::shared_ptr<const SongStore>;

SharedStore empty_store() {
    static const SharedStore empty = std::make_shared<const SongStore>();
    return empty;
}

SharedStore list_ = empty_store();
SharedStore list_old_search = empty_store();
// The list being read while its answer is parsed.
std::unique_ptr<SongStore> streamed_;

const char* next_text(const char*& p) {
    const char* text = p;
    p += strlen(p) + 1;
    return text;
}

void install(SharedStore store, int kind) {
    list_ = std::move(store);
    if (kind == SONGLIST_SEARCH) {
        list_old_search = list_;
    }
}

} // namespace

Song SongStore::at(size_t index) const {
    const Entry& entry = entries_[index];
    Song song;
    song.id = entry.id;
    song.display_order = entry.display_order;
    const char* p = texts_.data() + entry.texts;
    song.title = next_text(p);
    song.artist = next_text(p);
    song.composer = next_text(p);
    song.performer = next_text(p);
    song.length = next_text(p);
    song.genre = next_text(p);
    song.rollform_type = next_text(p);
    song.isPlayOk = next_text(p);
    song.uid = next_text(p);
    return song;
}

std::vector<Song> SongStore::songs() const {
    std::vector<Song> out;
    out.reserve(size());
    for (size_t i = 0; i < size(); ++i) {
        out.push_back(at(i));
    }
    return out;
}

void SongStore::push_back(const Song& song) {
    entries_.push_back(Entry{song.id, song.display_order, static_cast<uint32_t>(texts_.size())});
    for (const std::string* text :
         {&song.title, &song.artist, &song.composer, &song.performer, &song.length, &song.genre,
          &song.rollform_type, &song.isPlayOk, &song.uid}) {
        texts_.append(text->c_str(), strlen(text->c_str()) + 1);
    }
}

void SongStore::clear() {
    entries_.clear();
    texts_.clear();
}

void SongStore::sort_by_display_order() {
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.display_order < b.display_order; });
}

void songlist_fill(const Self& answer, int kind) {
    auto store = std::make_shared<SongStore>();
    read_list(answer, SONG_LIST_RULE, *store);
    install(std::move(store), kind);
}

void songlist_stream_begin() {
    report_left_out(nullptr);
    streamed_ = std::make_unique<SongStore>();
}

bool songlist_stream_visit(const Self& element) {
    return streamed_ != nullptr && read_record(element, SONG_LIST_RULE, *streamed_);
}

void songlist_stream_discard() {
    streamed_.reset();
}

void songlist_fill_streamed(int kind) {
    auto store = streamed_ != nullptr ? std::shared_ptr<SongStore>(std::move(streamed_))
                                      : std::make_shared<SongStore>();
    finish_list(SONG_LIST_RULE, *store);
    install(std::move(store), kind);
}

void songlist_set_old_search() {
    list_ = list_old_search;
}

void songlist_clear() {
    list_ = empty_store();
}

const SongStore& songlist_get() {
    return *list_;
}

void songlist_set(const std::vector<Song>& songs) {
    auto store = std::make_shared<SongStore>();
    for (const Song& song : songs) {
        store->push_back(song);
    }
    list_ = std::move(store);
}

bool songlist_find(uint64_t id, Song& out) {
    for (size_t i = 0; i < list_->size(); ++i) {
        if (list_->id(i) == id) {
            out = list_->at(i);
            return true;
        }
    }
    return false;
}

void songlist_dump() {
    dump_songs(list_->songs());
}
