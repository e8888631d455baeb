// libFuzzer target: korvum's own conversion, run in-process on memory
// files. The first byte of an input is the separator (0 for an empty third
// argument), the rest is the source. Each run must keep these properties:
//  - the document is the declaration, the root start tag, a body and the
//    closing tag, with nothing outside them;
//  - every body line begins with '<' (a record or a markup line);
//  - standard error holds only warnings, their line numbers rising;
//  - the document and the messages are those of a plain line-by-line
//    reading of the source (modele below), so every line is accounted
//    for once: record, markup, warning or blank;
//  - the same source converted twice gives the same bytes;
//  - nothing is written to standard output.
#define KORVUM_SANS_MAIN
// The program itself, without its main: the fuzzer calls its procedures.
#include "../src/korvum.cpp" // NOLINT(bugprone-suspicious-include)

#include <sys/mman.h>

#include <cstdio>
#include <string>

static const std::string PROLOGUE =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
    "<SOLVARINE TYPE=\"L\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n";
static const std::string FERMANTE = "</SOLVARINE>";
static const std::string AVERTISSEMENT = "Pas de s\xc3\xa9parateur ligne ";

static void
faux(const char *quoi)
{
	(void)std::fprintf(stderr, "korvum_fuzz: %s\n", quoi);
	std::abort();
}

// A memory file holding these bytes, positioned at its start.
static int
fichier(const std::string &octets)
{
	int fd = memfd_create("korvum", 0);
	if (fd < 0 ||
	    write(fd, octets.data(), octets.size()) != (ssize_t)octets.size() ||
	    lseek(fd, 0, SEEK_SET) != 0)
		faux("memfd");
	return fd;
}

static std::string
relis(int fd)
{
	std::string s;
	char b[65536];
	ssize_t n;
	lseek(fd, 0, SEEK_SET);
	while ((n = read(fd, b, sizeof b)) > 0)
		s.append(b, (size_t)n);
	close(fd);
	return s;
}

// What main does once both files are open, on memory files.
static void
convertit(const std::string &source, int sep, std::string &texte,
    std::string &messages, std::string &out)
{
	int sauve = dup(1), sortiestd = fichier("");
	dup2(sortiestd, 1);
	entree = fichier(source);
	sortie = fichier("");
	canal = fichier("");
	separ = sep;
	typedoc = 'L';
	ligne = 0;
	doclen = 0;
	rediger();
	close(entree);
	texte = relis(sortie);
	messages = relis(canal);
	entree = sortie = -1;
	canal = 2;
	dup2(sauve, 1);
	close(sauve);
	out = relis(sortiestd);
}

// The same conversion, read line by line in the plainest way.
static void
modele(const std::string &source, int sep, std::string &texte,
    std::string &messages)
{
	std::string s = source.substr(0, source.find('\x1a'));
	texte = PROLOGUE;
	messages.clear();
	long long n = 0;
	for (size_t i = 0; i < s.size();) {
		size_t j = s.find('\n', i);
		bool lf = j != std::string::npos;
		std::string l = s.substr(i, lf ? j - i : std::string::npos);
		i = lf ? j + 1 : s.size();
		n++;
		if (lf && !l.empty() && l.back() == '\r')
			l.pop_back();
		if (size_t z = l.find('\0'); z != std::string::npos) {
			l.resize(z);
			lf = false;
		}
		size_t d = l.find_first_not_of(" \t");
		if (d == std::string::npos)
			continue;
		l.erase(0, d);
		if (l[0] == '<') {
			texte += l + (lf ? "\r\n" : "");
			continue;
		}
		l.resize(l.find_last_not_of(" \t") + 1);
		size_t p = sep == 0 ? l.size() : l.find((char)sep);
		if (p == std::string::npos) {
			messages += AVERTISSEMENT + std::to_string(n) + ".\n";
			continue;
		}
		texte += "<F><Q>" + l.substr(0, p) + "</Q><R>" +
		         (p < l.size() ? l.substr(p + 1) : "") + "</R></F>\r\n";
	}
	texte += FERMANTE;
}

static void
proprietes(const std::string &texte, const std::string &messages)
{
	if (texte.compare(0, PROLOGUE.size(), PROLOGUE) != 0 ||
	    texte.size() < PROLOGUE.size() + FERMANTE.size() ||
	    texte.compare(
	        texte.size() - FERMANTE.size(), FERMANTE.size(), FERMANTE) != 0)
		faux("the document's frame is wrong");
	std::string corps = texte.substr(
	    PROLOGUE.size(), texte.size() - PROLOGUE.size() - FERMANTE.size());
	for (size_t i = 0; i < corps.size();) {
		size_t j = corps.find("\r\n", i);
		if (corps[i] != '<')
			faux("a body line does not begin with '<'");
		i = j == std::string::npos ? corps.size() : j + 2;
	}
	long long avant = 0;
	for (size_t i = 0; i < messages.size();) {
		size_t j = messages.find('\n', i);
		if (j == std::string::npos ||
		    messages.compare(i, AVERTISSEMENT.size(), AVERTISSEMENT) !=
		        0)
			faux("standard error holds something else than "
			     "warnings");
		char *chiffres = nullptr;
		long long n = std::strtoll(
		    messages.c_str() + i + AVERTISSEMENT.size(), &chiffres, 10);
		if (chiffres != messages.c_str() + j - 1 || *chiffres != '.')
			faux("a warning is not 'Pas de separateur ligne N.'");
		if (n <= avant)
			faux("warning numbers do not rise");
		avant = n;
		i = j + 1;
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
	if (size == 0)
		return 0;
	int sep = data[0];
	std::string source((const char *)data + 1, size - 1);

	std::string texte, messages, out, texte2, messages2, out2, attendu,
	    attenduerr;
	convertit(source, sep, texte, messages, out);
	proprietes(texte, messages);
	modele(source, sep, attendu, attenduerr);
	if (texte != attendu)
		faux("the document differs from the line-by-line reading");
	if (messages != attenduerr)
		faux("the warnings differ from the line-by-line reading");
	convertit(source, sep, texte2, messages2, out2);
	if (texte2 != texte || messages2 != messages)
		faux("two conversions of one source differ");
	if (!out.empty() || !out2.empty())
		faux("something was written on standard output");
	return 0;
}
