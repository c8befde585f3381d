"""What the music service answers about the user's own playlists: the list
of playlists and the songs of one playlist."""

from .answers import items_answer


def playlist_entry(id_, name, sort, modified_at="2024-05-01 10:00:00", **more):
    """One playlist of the list; an attribute given as None is left out."""
    attributes = {"id": id_, "name": name, "modified_at": modified_at, "sort": sort, **more}
    text = " ".join(f'{attribute}="{value}"' for attribute, value in attributes.items()
                    if value is not None)
    return f"<playlist {text}/>"


def playlists_answer(entries):
    return "<response><playlists>" + "".join(entries) + "</playlists></response>"


# A playlist's songs come as the items of a search answer.
playlist_songs_answer = items_answer
