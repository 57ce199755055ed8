#include "completion/item_maker.h"

#include "completion/completion_item.h"

namespace completion {

namespace {

py::object computed(py::handle self, py::handle completion, py::handle name, item_cache::ItemValues* record) {
    if (!record) return item_for_name(self, completion, name, nullptr);
    ItemValues values;
    py::object item = item_for_name(self, completion, name, &values);
    *record = {std::move(values.type), std::move(values.detail), std::move(values.documentation), values.failed};
    return item;
}

py::object from_values(py::handle name, const item_cache::ItemValues& cached) {
    ItemValues values{cached.type, cached.detail, cached.documentation, cached.failed};
    return item_from_values(name, values);
}

}  // namespace

const item_cache::ItemMaker& item_maker() {
    static const item_cache::ItemMaker maker{&completion_item, &starts_with_underscore, &computed, &from_values};
    return maker;
}

}  // namespace completion
