#pragma once
// What `duplora-cli ... --help` lists, read back from the help text: the
// options of a command with the choices their description names
// ("on | off: ..."), and its subcommands. The man page and the bash
// completion are checked against it.

#include "cli/Cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace duplora::test {

struct HelpOption {
    std::string name;                 // "--only-in-host"
    std::vector<std::string> choices; // {"ignore", "to-mirror", "delete"}
};

struct HelpText {
    std::vector<HelpOption> options;
    std::vector<std::string> subcommands;
};

// The choices at the start of a description: words joined by " | ", up to
// the first ':' or the end. Ranges such as "1..7" are left out.
inline std::vector<std::string> ChoicesOf(const std::string& description) {
    const std::string head = description.substr(0, description.find(':'));
    if (head.find(" | ") == std::string::npos)
        return {};
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= head.size()) {
        std::size_t end = head.find(" | ", start);
        if (end == std::string::npos)
            end = head.size();
        const std::string word = head.substr(start, end - start);
        if (word.find("..") == std::string::npos)
            out.push_back(word);
        start = end + 3;
    }
    return out;
}

inline HelpText ReadHelp(std::vector<std::string> command) {
    command.push_back("--help");
    std::ostringstream out, err;
    cli::RunCli(command, out, err);
    HelpText help;
    std::istringstream in(out.str());
    bool inSubcommands = false;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] != ' ') {
            inSubcommands = line.rfind("Subcommands:", 0) == 0;
            continue;
        }
        const std::size_t first = line.find_first_not_of(' ');
        std::string entry = line.substr(first);
        if (inSubcommands) {
            help.subcommands.push_back(entry.substr(0, entry.find(' ')));
            continue;
        }
        if (entry.rfind("-h,", 0) == 0)
            entry.erase(0, 3);
        if (entry.rfind("--", 0) != 0)
            continue; // a positional
        const std::size_t nameEnd = entry.find(' ');
        HelpOption option{entry.substr(0, nameEnd), {}};
        // The description follows the first run of two spaces.
        if (const std::size_t gap = entry.find("  ", nameEnd); gap != std::string::npos)
            option.choices = ChoicesOf(entry.substr(entry.find_first_not_of(' ', gap)));
        help.options.push_back(option);
    }
    return help;
}

// Every command of duplora-cli, as the words that name it.
inline std::vector<std::vector<std::string>> AllCommands() {
    std::vector<std::vector<std::string>> all{{}};
    for (std::size_t i = 0; i < all.size(); ++i)
        for (const std::string& sub : ReadHelp(all[i]).subcommands) {
            std::vector<std::string> words = all[i];
            words.push_back(sub);
            all.push_back(words);
        }
    return all;
}

} // namespace duplora::test
