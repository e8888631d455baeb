// Runs the korvum under test the way a user does, from a command line in a
// directory of the test's own, and collects what the run leaves behind.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The bytes of the messages as the build under test writes them: the OEM
// console code page on Windows, UTF-8 elsewhere.
#ifdef _WIN32
#define EAIGU "\x82"
#define EGRAVE "\x8a"
#define AGRAVE "\x85"
#else
#define EAIGU "\xc3\xa9"
#define EGRAVE "\xc3\xa8"
#define AGRAVE "\xc3\xa0"
#endif

struct Panne {
	long long fsize = -1;         // file size limit in bytes (POSIX)
	long long memoire = -1;       // address-space limit in bytes (POSIX)
	int masque = -1;              // umask of the run (POSIX)
	std::vector<int> fermes;      // standard streams left closed (POSIX)
	std::vector<int> rompus;      // ... that are pipes no one reads (POSIX)
	std::vector<std::string> env; // NAME=value for the run (POSIX)
};

struct Issue {
	int statut;      // exit status; 128 + signal when killed
	std::string err; // standard error, byte for byte
	std::string out; // standard output
};

// Run korvum with these arguments (argv[1] on) in the current directory.
Issue korvum(const std::vector<std::string> &args, const Panne &panne = {});

// The program under test: $KORVUM when set, otherwise the one this build
// made.
std::string programme();

// A file's name as the system takes it: UTF-8 names (or windows-1252 ones,
// when not well-formed UTF-8) become Unicode names on Windows.
std::filesystem::path chemin(const std::string &nom);

std::string lis(const std::string &nom);
void ecris(const std::string &nom, const std::string &octets);
bool existe(const std::string &nom);
// The names in a folder, sorted.
std::vector<std::string> contenu(const std::string &dossier);

// A fresh empty directory for the running test, made current.
void nouveaudossier(const std::string &nom);
