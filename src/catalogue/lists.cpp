#include "catalogue/lists.h"

namespace {

CatalogueHooks hooks_;

} // namespace

void catalogue_set_hooks(const CatalogueHooks& hooks) {
    hooks_ = hooks;
}

void catalogue_list_loaded(CatalogueList list) {
    if (hooks_.list_loaded != nullptr) {
        hooks_.list_loaded(list);
    }
}
