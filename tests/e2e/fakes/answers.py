"""What the music service answers: tokens, account features, search results
and errors, as the tests route them."""

LOGIN_OK = ('<?xml version="1.0" encoding="UTF-8"?>\n<response>\n'
            '  <token expires="3600">access-1</token>\n'
            '  <refreshToken>refresh-1</refreshToken>\n</response>\n')

FEATURES_OA = ('<response><features><feature id="original_artist" value="1"/>'
               '</features></response>')


def song_item(number, **changes):
    """One search result item with every attribute the song list requires."""
    attributes = {
        "id": str(number), "display_order": str(number), "title": f"Song {number}",
        "artist": "Artist", "composer": "Composer", "performer": "Performer",
        "length": "180", "genre": "Jazz", "rollform_type": "standard", "ondemand_play": "true",
    }
    for name, value in changes.items():
        if value is None:
            attributes.pop(name, None)
        else:
            attributes[name] = value
    text = " ".join(f'{name}="{value}"' for name, value in attributes.items())
    return f"<item {text}/>"


def items_answer(items):
    return "<response><items>" + "".join(items) + "</items></response>"


def error_answer(*messages):
    return "<error>" + "".join(f"<message>{m}</message>" for m in messages) + "</error>"
