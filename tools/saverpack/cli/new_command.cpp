// saverpack new: a folder with a commented project file and the author's files, ready to build.
#include <iostream>
#include <memory>

#include "commands.h"
#include "file_io.h"

namespace saverpack {
namespace {

struct NewOptions {
  std::string name;
  std::string program;
  std::string picture;
};

// A path as one word of a shell command line: in double quotes when it holds a blank or a
// character that a shell would take for its own (both Windows' and POSIX shells keep the word).
std::string ShellWord(const std::string& path) {
  if (path.find_first_of(" \t'&;|<>()*?") == std::string::npos) return path;
  return "\"" + path + "\"";
}

std::string ProjectText(const std::string& name, const std::string& program,
                        const std::string& picture) {
  const std::string content = picture.empty() ? "none" : "picture";
  std::string text =
      "# The project of the " + name + " screen saver's installer: saverpack build " + name +
      ".toml\n"
      "# Paths are relative to this file; texts are UTF-8 and must fit Windows-1252.\n\n"
      "name = \"" + name + "\"   # at most 64 bytes: the window title \"Install " + name +
      "\", the folder\n"
      "                     # \"<Windows>\\\\" + name + " dir\\\\\", the uninstall entry\n"
      "content = \"" + content + "\"   # \"picture\" (PNG, JPEG, GIF or BMP, made 350 x 150), "
      "\"flash\" (a movie),\n"
      "                     # \"none\", \"silent\" (no window: installs at once) or a number 0..255\n"
      "open_display_properties = false  # after installing, open Display Properties\n"
      "level = \"best\"       # \"best\": the smallest streams; \"fast\": quicker, a few percent larger\n"
      "uninstall = \"launcher\"  # the default: Uninstall runs our launcher, which removes the saver and\n"
      "                     # otherwise runs your program from the saver's folder; \"program\" for a\n"
      "                     # program that handles /u itself (it is then installed as " + name + ".scr)\n"
      "# sign = \"osslsigncode sign -pkcs12 me.pfx -in {in} -out {out}\"   # or: \"signtool sign /a {file}\"\n\n"
      "# One table per file. Each takes path (required), name (the file's name in the payload and on\n"
      "# the user's machine; default: its own), destination (1..6: 2 the Windows folder, 3 the\n"
      "# Windows folder as a \".dll\", others the saver's folder) and compress (\"auto\": imploded\n"
      "# when smaller; \"always\"; \"never\"). Slots left out that the installer needs are filled in\n"
      "# by saverpack so that they leave nothing on the user's machine.\n\n"
      "[files.program]        # the screen saver, placed in the Windows folder\n"
      "path = \"" + program + "\"\n";
  if (!picture.empty()) text += "\n[files.content]        # the picture the window shows\npath = \"" + picture + "\"\n";
  text +=
      "\n# [files.license]      # a licence the user must accept (\"Accept and Install\")\n"
      "# path = \"licence.txt\"\n"
      "# [files.document]     # opened with the shell after installing\n"
      "# path = \"readme.txt\"\n"
      "# [files.codec]        # default: impborl.dll beside saverpack, stored plain as \"impborl.dat\"\n"
      "# [files.flash_installer]  # run with /Q when the user's Flash Player is too old\n"
      "# [files.extra]        # the saver's further file\n"
      "# [files.library1]     # and its two libraries\n"
      "# [files.library2]\n"
      "# [data]               # the saver's data file, built here: entries written into its folder\n"
      "# [[data.entries]]\n"
      "# name = \"settings.dat\"\n"
      "# path = \"settings.dat\"\n";
  return text;
}

void RunNew(const NewOptions& o) {
  const std::filesystem::path folder(o.name);
  const std::string name = folder.filename().string();
  if (name.empty() || name.size() > 64 || name.find_first_of("\\/:*?\"<>|") != std::string::npos)
    throw ToolError(o.name + ": a screen saver's name has 1 to 64 characters that a file name may hold");
  if (std::filesystem::exists(folder)) throw ToolError(o.name + ": already exists; nothing written");
  for (const std::string& file : {o.program, o.picture})
    if (!file.empty() && !std::filesystem::is_regular_file(file))
      throw ToolError(file + ": no such file; nothing written");
  std::filesystem::create_directories(folder);
  auto copyIn = [&](const std::string& file) {
    if (file.empty()) return std::string();
    const std::string base = std::filesystem::path(file).filename().string();
    WriteFile(folder / base, ReadFile(file));
    return base;
  };
  const std::string program = o.program.empty() ? name + ".scr" : copyIn(o.program);
  const std::string picture = copyIn(o.picture);
  const std::filesystem::path project = folder / (name + ".toml");
  const std::string text = ProjectText(name, program, picture);
  WriteFile(project, std::vector<uint8_t>(text.begin(), text.end()));
  std::cout << "saverpack: made " << project.string()
            << (o.program.empty() ? " (put the screen saver at " + (folder / program).string() + ")" : "")
            << "; build it with: saverpack build " << ShellWord(project.string()) << "\n";
}

}  // namespace

void AddNewCommand(CLI::App& app) {
  auto o = std::make_shared<NewOptions>();
  CLI::App* cmd = app.add_subcommand(
      "new", "Make a folder NAME with a commented project file and the given files, ready to build");
  cmd->add_option("NAME", o->name, "The screen saver's name, and the folder to make")->required();
  cmd->add_option("--program", o->program, "The screen saver program (.scr) to copy in");
  cmd->add_option("--picture", o->picture, "A picture for the window (PNG, JPEG, GIF or BMP)");
  cmd->callback([o] { RunNew(*o); });
}

}  // namespace saverpack
