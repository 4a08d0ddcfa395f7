#include "core/alias.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <sstream>

#include "core/file_store.h"
#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"

namespace pt = boost::property_tree;

namespace {

constexpr const char* kNameList = "namelist";
constexpr const char* kWithoutAliases = "the pages show their own names";

// The entry of `section` whose "id" is `id` (first in file order), or null.
const pt::ptree* find_entry(const pt::ptree& root, const std::string& section, int id)
{
    auto list = root.get_child_optional(kNameList);
    if (!list)
        return nullptr;
    for (const auto& member : *list) {
        if (member.first != section)
            continue;
        for (const auto& entry : member.second) {
            // "id" may be a JSON number or numeric text; entries without a usable id are skipped.
            boost::optional<int> entry_id = entry.second.get_optional<int>("id");
            if (entry_id && *entry_id == id)
                return &entry.second;
        }
        return nullptr;   // only the first section of that name counts
    }
    return nullptr;
}

}  // namespace

int get_json_alias_para(ALIAS_PARA* out, std::string section, int id)
{
    std::string text;
    if (filestore::read_text_file(kAliasFile, text, kWithoutAliases) != filestore::Found::File)
        return 0;
    std::string document;
    if (!filestore::bounded_json_document(kAliasFile, text, "aliases", kWithoutAliases, document))
        return 0;
    std::istringstream file(document);
    pt::ptree root;
    try {
        pt::read_json(file, root);
    } catch (const pt::json_parser_error& e) {
        ZEL_DEBUG("json error: %s", e.what());
        // Out of the way until PC software sends a new one.
        filestore::set_aside(kAliasFile, "is not JSON (" + e.message() + ")", kWithoutAliases);
        return 0;
    }
    const pt::ptree* entry = find_entry(root, section, id);
    if (!entry)
        return 0;
    boost::optional<std::string> valid = entry->get_optional<std::string>("valid");
    boost::optional<std::string> name = entry->get_optional<std::string>("name");
    if (!valid || !name)
        return 0;   // an incomplete entry counts as no alias
    if (out) {
        out->id = id;
        out->valid = *valid;
        out->name = *name;
    }
    return *valid != "off" && !name->empty() ? 1 : 0;
}
