// Turns a program's --help text, written in the shape of a manual page, into a troff manual page:
//   lvx_help_to_man PROGRAM VERSION OUTPUT
// runs "PROGRAM --help" and writes OUTPUT. The text's shape:
//   SECTION NAME          a line in capitals at the left margin starts a section
//     text                text, two spaces in; an empty line ends a paragraph
//     --option ARG  text  an option (two spaces in, starting with '-'), its description after two
//                         or more spaces, continued on lines indented further (a line of text
//                         that starts with an option name has no double space)
//       command           four or more spaces in, outside an option: shown as typed
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Troff escapes: backslashes and hyphens, and a leading dot or quote that would read as a request.
std::string escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

size_t indent_of(const std::string &line) {
  size_t n = line.find_first_not_of(' ');
  return n == std::string::npos ? line.size() : n;
}

bool is_section(const std::string &line) {
  if (line.empty() || !std::isupper(static_cast<unsigned char>(line[0]))) return false;
  for (char c : line) {
    if (!std::isupper(static_cast<unsigned char>(c)) && c != ' ') return false;
  }
  return true;
}

// "--address 127.x.y.z" becomes the option in bold and its value in italics; alternatives
// ("--help, -h") stay bold.
std::string option_term(const std::string &term) {
  std::istringstream words(term);
  std::string word, out;
  while (words >> word) {
    if (!out.empty()) out += ' ';
    bool option = word[0] == '-';
    out += (option ? "\\fB" : "\\fI") + escape(word) + "\\fR";
  }
  return out;
}

std::string convert(const std::string &help, const std::string &name, const std::string &version) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::ostringstream out;
  out << ".TH " << upper << " 1 \"\" \"lumavex_core " << version << "\" \"User Commands\"\n";
  std::istringstream in(help);
  std::string line;
  bool in_item = false;     // inside an option's description
  bool in_example = false;  // inside a block shown as typed
  bool paragraph = false;   // an empty line came: text that follows starts a new paragraph
  auto start_text = [&] {
    if (paragraph) out << ".PP\n";
    paragraph = false;
  };
  auto end_example = [&] {
    if (in_example) out << ".fi\n.RE\n";
    in_example = false;
  };
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    size_t indent = indent_of(line);
    if (line.empty()) {
      end_example();
      in_item = false;
      paragraph = true;
    } else if (indent == 0 && is_section(line)) {
      end_example();
      in_item = false;
      paragraph = false;
      out << ".SH " << line << "\n";
    } else if (indent == 2 && line[2] == '-' && line.find("  ", 2) != std::string::npos) {
      end_example();
      paragraph = false;  // .TP starts one
      std::string rest = line.substr(2);
      size_t gap = rest.find("  ");
      std::string term = rest.substr(0, gap);
      out << ".TP\n" << option_term(term) << "\n";
      if (gap != std::string::npos)
        out << escape(rest.substr(indent_of(rest.substr(gap)) + gap)) << "\n";
      in_item = true;
    } else if (in_item && indent > 2) {
      out << escape(line.substr(indent)) << "\n";
    } else if (indent >= 4) {
      if (!in_example) {
        start_text();
        out << ".RS\n.nf\n";
      }
      in_example = true;
      out << escape(line.substr(4)) << "\n";
    } else {
      end_example();
      in_item = false;
      start_text();
      out << escape(line.substr(indent)) << "\n";
    }
  }
  end_example();
  return out.str();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: lvx_help_to_man PROGRAM VERSION OUTPUT\n");
    return 2;
  }
  std::string program = argv[1];
  std::FILE *pipe = popen(("'" + program + "' --help").c_str(), "r");
  if (pipe == nullptr) {
    std::perror("lvx_help_to_man");
    return 1;
  }
  std::string help;
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) help.append(buf, n);
  if (pclose(pipe) != 0 || help.empty()) {
    std::fprintf(stderr, "lvx_help_to_man: %s --help failed\n", program.c_str());
    return 1;
  }
  std::string name = program.substr(program.find_last_of('/') + 1);
  std::ofstream file(argv[3]);
  file << convert(help, name, argv[2]);
  return file.good() ? 0 : 1;
}
