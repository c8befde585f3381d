"""What the music service answers about its own catalogue: the preset and
gratis playlists, the recommended playlists and the genres. Recommended songs
and the history come as the items of a search answer (answers.items_answer)."""


def _element(name, attributes, inner=""):
    """An element with the attributes that are not None, in the given order."""
    text = "".join(f' {key}="{value}"' for key, value in attributes.items() if value is not None)
    return f"<{name}{text}/>" if not inner else f"<{name}{text}>{inner}</{name}>"


def preset_entry(id_, name, modified_at="2024-04-01 09:00:00"):
    """One preset or gratis playlist; an attribute given as None is left out."""
    return _element("playlist", {"id": id_, "name": name, "modified_at": modified_at})


def presets_answer(entries):
    return "<response><playlists>" + "".join(entries) + "</playlists></response>"


def gratis_answer(entries, items):
    """The gratis playlists and, after them, the songs they all share."""
    return ("<response><playlists>" + "".join(entries) + "</playlists><items>" + "".join(items)
            + "</items></response>")


def recommend_entry(title, genre_id, items=()):
    """One recommended playlist holding its items; None leaves an attribute
    out."""
    return _element("playlist", {"title": title, "genre_id": genre_id},
                    "<items>" + "".join(items) + "</items>")


def recommend_answer(entries, before=()):
    """`before`: items ahead of the first playlist."""
    return "<response>" + "".join(before) + "<playlists>" + "".join(entries) + \
        "</playlists></response>"


def genre_entry(id_, name, sort):
    return _element("genre", {"id": id_, "name": name, "sort": sort})


def genres_answer(entries):
    return "<response><genres>" + "".join(entries) + "</genres></response>"
