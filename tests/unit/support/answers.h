// Service answers for tests: a tree from XML text, and search items.
#pragma once

#include "state/records.h"
#include "state/song_list.h"
#include "xml/self.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

inline Self answer_of(const std::string& xml) {
    xml_init();
    Self tree;
    EXPECT_EQ(self_parse(xml, tree), 0) << xml;
    return tree;
}

// An item with every attribute the song list requires.
inline std::string search_item(const std::string& id, const std::string& order,
                               const std::string& extra = "") {
    return "<item id=\"" + id + "\" display_order=\"" + order + "\" title=\"t" + id +
           "\" artist=\"a\" composer=\"c\" performer=\"p\" length=\"1\" "
           "genre=\"g\" rollform_type=\"r\" " +
           extra + "/>";
}

inline std::vector<uint64_t> ids(const SongStore& songs) {
    std::vector<uint64_t> out;
    for (size_t i = 0; i < songs.size(); ++i) {
        out.push_back(songs.id(i));
    }
    return out;
}

inline std::vector<uint64_t> ids(const std::vector<Song>& songs) {
    std::vector<uint64_t> out;
    for (const Song& s : songs) {
        out.push_back(s.id);
    }
    return out;
}
