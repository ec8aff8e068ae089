// The readers of the project file's tables: each notes what its table says in the project, and
// its problems, and leaves what follows from several tables to the checks made afterwards.
#include "cp1252.h"
#include "path_rules.h"
#include "payload_checks.h"
#include "project_reading.h"

namespace saverpack {
namespace {

void ReadName(ProjectReading& reading, const toml::table& root, Project& project, TopLevelKeys& keys) {
  const toml::node* name = root.get("name");
  if (!name) {
    reading.Problem(1, "the screen saver's name is missing (name = \"...\")");
    return;
  }
  auto text = reading.Text(name, "name");
  if (!text) return;
  const int line = ProjectReading::LineOf(name);
  if (text->size() > 64)
    reading.Problem(line, "name has " + std::to_string(text->size()) + " bytes; the installer holds at most 64");
  if (!IsUsableSaverName(*text))
    reading.Problem(line, "name \"" + Cp1252ToUtf8(*text) + "\" holds a character that a "
                    "folder name cannot (\\ / : * ? \" < > | or a control character)");
  project.saverName = *text;
  keys.nameLine = line;
}

void ReadContent(ProjectReading& reading, const toml::table& root, Project& project) {
  const toml::node* content = root.get("content");
  const char* choices = "\"picture\", \"flash\", \"none\", \"silent\" or a number 0..255";
  if (!content) {
    reading.Problem(1, std::string("content is missing: ") + choices);
  } else if (content->is_integer()) {
    if (auto raw = reading.Integer(content, "content", 0, 255))
      project.contentMode = static_cast<uint8_t>(*raw);
  } else {
    const auto kind = content->value<std::string>();
    if (kind == "picture") project.contentMode = cmPicture;
    else if (kind == "flash") project.contentMode = cmFlashMovieToo;
    else if (kind == "none") project.contentMode = 0;
    else if (kind == "silent") project.contentMode = cmSilent;
    else reading.Problem(ProjectReading::LineOf(content), std::string("content must be ") + choices);
  }
}

void ReadUninstall(ProjectReading& reading, const toml::node& uninstall, Project& project,
                   TopLevelKeys& keys) {
  keys.uninstallLine = ProjectReading::LineOf(&uninstall);
  keys.uninstallSaid = true;
  const auto value = uninstall.value<std::string>();
  if (value == "launcher") project.uninstall = Uninstall::Launcher;
  else if (value == "program") project.uninstall = Uninstall::Program;
  else if (value == "as-is") project.uninstall = Uninstall::AsIs;
  else {
    keys.uninstallRefused = true;
    reading.Problem(keys.uninstallLine,
                    "uninstall must be \"launcher\" (our launcher removes the screen saver) or "
                    "\"program\" (the program handles /u itself) or \"as-is\" (the program slot "
                    "as the project gives it)");
  }
}

// same_as = "<slot>": the slot repeats another's stored bytes (never the codec's, which
// saverpack puts in).
void ReadSameAs(ProjectReading& reading, int slot, const toml::table& table, SlotSpec& plan) {
  const toml::node* sameAs = table.get("same_as");
  if (!sameAs) return;
  const int line = ProjectReading::LineOf(sameAs);
  const auto key = sameAs->value<std::string>();
  const int owner = key ? SlotByKey(*key).value_or(-1) : -1;
  const std::string tableName = std::string("files.") + SlotKey(slot);
  if (owner < 0 || owner == msStub || owner == slot || owner == msCompressionLib)
    reading.Problem(line, "same_as must name another slot (not the codec, whose bytes saverpack puts in)");
  else if (slot == msDataFile || slot == msCompressionLib)
    reading.Problem(line, tableName + " keeps bytes of its own; it cannot be same_as");
  else if (table.get("path"))
    reading.Problem(line, tableName + " has both a path and same_as");
  else
    plan.sameBytesAs = owner;
}

void ReadEntry(ProjectReading& reading, const toml::node& node, DataSpec& data) {
  DataEntrySpec entry;
  entry.line = ProjectReading::LineOf(&node);
  const toml::table* table = node.as_table();
  if (!table) {
    reading.Problem(entry.line, "each [[data.entries]] must be a table");
    return;
  }
  // nameless = true: an entry with no name, which the installer skips (some installers hold
  // one); its chunk is stored all the same.
  bool nameless = false;
  if (const toml::node* flag = table->get("nameless")) {
    nameless = flag->value<bool>().value_or(false);
    if (!flag->is_boolean()) reading.Problem(ProjectReading::LineOf(flag), "nameless must be true or false");
    if (nameless && table->get("name"))
      reading.Problem(ProjectReading::LineOf(flag), "a nameless entry has no name = \"...\"");
  }
  if (nameless) {
    // no name
  } else if (auto name = reading.Text(table->get("name"), "entry name")) {
    entry.name = *name;
    if (name->empty() || name->size() > 255)
      reading.Problem(entry.line, "an entry name has 1 to 255 bytes (nameless = true for one the installer skips)");
  }
  if (const toml::node* kind = table->get("kind"))
    if (auto value = reading.Integer(kind, "kind", 0, 255)) entry.kind = static_cast<uint8_t>(*value);
  if (const toml::node* kind = table->get("chunk_kind"))
    if (auto value = reading.Integer(kind, "chunk_kind", 0, 255)) entry.chunkKind = static_cast<uint8_t>(*value);
  if (const toml::node* path = table->get("path")) {
    if (auto text = reading.Text(path, "path")) {
      entry.source = reading.Resolve(*text);
      if (!IsFileAt(*entry.source))
        reading.Problem(ProjectReading::LineOf(path), "no file at " + entry.source->string());
    }
  } else if (entry.kind != kCopiedEntry && !(data.entries.empty() && data.movieSource == kMovieFromContent)) {
    reading.Problem(entry.line, "an entry needs a path, or kind = 3 for a copy made on the user's machine");
  }
  entry.compression = reading.CompressionOf(table->get("compress"));
  data.entries.push_back(entry);
}

// settings = "<file>": the data file's 1224-byte header image.
void ReadSettings(ProjectReading& reading, const toml::node& settings, DataSpec& data) {
  auto text = reading.Text(&settings, "settings");
  if (!text) return;
  data.settings = reading.Resolve(*text);
  std::error_code error;
  const auto size = std::filesystem::file_size(*data.settings, error);
  if (error) reading.Problem(ProjectReading::LineOf(&settings), "no file at " + data.settings->string());
  else if (size != static_cast<uintmax_t>(kDataFileHeaderSize))
    reading.Problem(ProjectReading::LineOf(&settings),
                    "the settings header has " + std::to_string(size) + " bytes, not 1224");
}

}  // namespace

TopLevelKeys ReadTopLevel(ProjectReading& reading, const toml::table& root, Project& project) {
  TopLevelKeys keys;
  ReadName(reading, root, project, keys);
  ReadContent(reading, root, project);
  if (const toml::node* open = root.get("open_display_properties"))
    if (auto value = reading.FlagOrByte(open, "open_display_properties")) project.openDisplayProperties = *value;
  if (const toml::node* flag = root.get("has_license"))
    if (auto value = reading.FlagOrByte(flag, "has_license")) keys.licenseFlag = *value;
  if (const toml::node* flag = root.get("show_document"))
    if (auto value = reading.FlagOrByte(flag, "show_document")) keys.documentFlag = *value;
  if (const toml::node* sign = root.get("sign")) {
    if (auto text = sign->value<std::string>()) project.sign = *text;
    else reading.Problem(ProjectReading::LineOf(sign), "sign must be a command in quotes");
  }
  if (const toml::node* uninstall = root.get("uninstall")) ReadUninstall(reading, *uninstall, project, keys);
  if (const toml::node* level = root.get("level")) {
    const auto value = level->value<std::string>();
    if (value == "best") project.fast = false;
    else if (value == "fast") project.fast = true;
    else reading.Problem(ProjectReading::LineOf(level), "level must be \"best\" or \"fast\"");
  }
  return keys;
}

void ReadFileTable(ProjectReading& reading, int slot, const toml::node& node,
                   const std::filesystem::path& defaultCodec, Project& project) {
  SlotSpec& plan = project.slots[slot];
  plan.line = ProjectReading::LineOf(&node);
  const std::string tableName = std::string("files.") + SlotKey(slot);
  const toml::table* table = node.as_table();
  if (!table) {
    reading.Problem(plan.line, tableName + " must be a table");
    return;
  }
  ReadSameAs(reading, slot, *table, plan);
  const toml::node* path = table->get("path");
  if (table->get("same_as") || (slot == msCompressionLib && !path)) {
    // The bytes are another slot's, or the codec beside saverpack.
    if (slot == msCompressionLib) plan.source = defaultCodec;
  } else if (slot == msDataFile && project.data.present && !path) {
    // The data file is built from [data]; only its name and compression come from here.
  } else if (auto text = reading.Text(path, tableName + ".path")) {
    plan.source = reading.Resolve(*text);
    if (!IsFileAt(plan.source)) reading.Problem(ProjectReading::LineOf(path), "no file at " + plan.source.string());
  }
  plan.present = true;
  plan.payloadName = plan.sameBytesAs ? std::string() : plan.source.filename().string();
  if (slot == msCompressionLib && !path) plan.payloadName = "impborl.dat";
  if (const toml::node* name = table->get("name")) {
    if (auto text = reading.Text(name, "name")) plan.payloadName = *text;
    plan.nameGiven = true;
  }
  if (const toml::node* keep = table->get("keep_bytes")) {
    if (slot != msContent || keep->value_exact<bool>() == std::nullopt)
      reading.Problem(ProjectReading::LineOf(keep), "keep_bytes = true is for files.content: a picture stored as it is");
    else
      plan.keepBytes = *keep->value_exact<bool>();
  }
  plan.destination = kDefaultDestination[slot];
  if (const toml::node* destination = table->get("destination"))
    if (auto code = reading.Integer(destination, "destination", 1, 6)) plan.destination = static_cast<int32_t>(*code);
  plan.compression = reading.CompressionOf(table->get("compress"));
  if (slot == msCompressionLib) {
    // The installer needs the library to expand anything else: it is always stored plain.
    if (plan.compression == Compression::Always)
      reading.Problem(plan.line, "the codec library must be stored plain: the installer needs it to expand the rest");
    plan.compression = Compression::Never;
  }
}

void ReadDataTable(ProjectReading& reading, const toml::table& root, Project& project) {
  const toml::node* node = root.get("data");
  if (!node) return;
  DataSpec& data = project.data;
  data.line = ProjectReading::LineOf(node);
  const toml::table* table = node->as_table();
  if (!table) {
    reading.Problem(data.line, "data must be a table");
    return;
  }
  if (project.slots[msDataFile].present && !project.slots[msDataFile].source.empty())
    reading.Problem(data.line, "the data file is given both as files.data.path and as [data]");
  if (const toml::node* settings = table->get("settings")) ReadSettings(reading, *settings, data);
  if (const toml::node* movie = table->get("movie_source"))
    if (auto value = reading.Integer(movie, "movie_source", INT32_MIN, INT32_MAX))
      data.movieSource = static_cast<int32_t>(*value);
  if (const toml::node* entries = table->get("entries")) {
    if (const toml::array* list = entries->as_array()) {
      for (const toml::node& entry : *list) ReadEntry(reading, entry, data);
    } else {
      reading.Problem(ProjectReading::LineOf(entries), "data.entries must be an array of tables ([[data.entries]])");
    }
  }
  if (data.entries.size() > static_cast<size_t>(kMaxDataEntries))
    reading.Problem(data.line, "the data file has " + std::to_string(data.entries.size()) +
                                   " entries; the installer reads at most 108");
}

}  // namespace saverpack
