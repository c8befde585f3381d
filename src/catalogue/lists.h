// The catalogue's lists that the start-up chain waits for. The answer that
// stores one reports it here; the service, which owns the chain, decides
// what follows, so the catalogue never calls up into it.
#pragma once

enum class CatalogueList { UserPlaylists, Presets, Gratis, RecommendPlaylists, Genres };

struct CatalogueHooks {
    void (*list_loaded)(CatalogueList list) = nullptr;
};
void catalogue_set_hooks(const CatalogueHooks& hooks);

// A list stored from a successful answer (or a command's answer: the hook
// tells whether the chain waits for it).
void catalogue_list_loaded(CatalogueList list);
