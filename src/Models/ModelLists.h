// The list converters the panel models share: settings dictionaries to
// models and back.
#pragma once

#include <foundation/Value.h>

#include <memory>
#include <vector>

namespace modellists {

// One model per dictionary element of an array, made by the model's
// dictionary constructor; anything that is not an array gives an empty list.
template <class M> std::vector<std::shared_ptr<M>> fromDictList(const kdf::Value* list) {
    std::vector<std::shared_ptr<M>> models;
    const kdf::Array* items = list ? list->array() : nullptr;
    if (!items) return models;
    for (const kdf::Value& item : *items)
        if (const kdf::Dictionary* d = item.dictionary()) models.push_back(std::make_shared<M>(d));
    return models;
}

// One new dictionary per model, filled by its saver.
template <class M, class Save>
kdf::Array toDictList(const std::vector<std::shared_ptr<M>>& models, Save save) {
    kdf::Array list;
    for (const auto& model : models) {
        if (!model) continue;
        kdf::Dictionary d;
        ((*model).*save)(&d);
        list.emplace_back(std::move(d));
    }
    return list;
}

} // namespace modellists
