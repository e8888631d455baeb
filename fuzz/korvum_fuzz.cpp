// libFuzzer target: korvum's own conversion, run in-process on memory
// files. The first byte of an input chooses the separator (see separateur
// below; 0 for an empty third argument), the rest is the source, in any
// encoding. Each run must keep these properties:
//  - the document is the declaration, the root start tag, a body and the
//    closing tag, with nothing outside them;
//  - every body line begins with '<' (a record or a markup line);
//  - standard error holds only warnings, their line numbers rising;
//  - the document and the messages are those of a plain line-by-line
//    reading of the source (modele below), so every line is accounted
//    for once: record, markup, warning or blank;
//  - read back as windows-1252 with its references resolved, each record
//    holds the source's characters (where the source has no '&' or '<'
//    that would stand for markup);
//  - the same source converted with every vector step the processor has
//    gives the same bytes;
//  - nothing is written to standard output.
// It links the program's own files, but main, and calls rediger as main
// does once both files are open.
#include "extern.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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

// The separator for an input's first byte: that byte's windows-1252
// character, but for 0x90 to 0x9F, which choose characters windows-1252
// lacks.
static char32_t
separateurfuzz(unsigned char b)
{
	static const char32_t AILLEURS[8] = {
	    U'Ω', U'😀', U'寿', U'Ł', 0xfffd, 0xfeff, 0x10ffff, U'ś'};
	return b >= 0x90 && b < 0xa0 ? AILLEURS[b & 7] : car1252(b);
}

// What main does once both files are open, on memory files, with the
// vector steps j.
static void
convertit(const std::string &source, char32_t sep, Jeu j, std::string &texte,
    std::string &messages, std::string &out)
{
	int sauve = dup(1), sortiestd = fichier("");
	dup2(sortiestd, 1);
	entree = fichier(source);
	sortie = fichier("");
	canal = fichier("");
	separ = sep;
	typedoc = 'L';
	jeu = j;
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

// The well-formed UTF-8 sequence at s[i], as its character and length;
// false when there is none. Written apart from korvum's own decoder: a
// sequence is read whole, then its value is checked.
static bool
sequence(const std::string &s, size_t i, char32_t &c, size_t &n)
{
	auto b = (unsigned char)s[i];
	n = b >= 0xf0 ? 4 : b >= 0xe0 ? 3 : b >= 0xc0 ? 2 : 0;
	if (n == 0 || b > 0xf7 || i + n > s.size())
		return false;
	c = b & (0x7f >> n);
	for (size_t k = 1; k < n; k++) {
		auto o = (unsigned char)s[i + k];
		if ((o & 0xc0) != 0x80)
			return false;
		c = c << 6 | (o & 0x3f);
	}
	const char32_t plusbas[5] = {0, 0, 0x80, 0x800, 0x10000};
	return c >= plusbas[n] && c <= 0x10ffff && (c < 0xd800 || c > 0xdfff);
}

// The source's text as characters, as a plain reading decodes it. A
// windows-1252 source is not decoded (octets): its characters are its bytes.
static std::u32string
decode(const std::string &source, bool &octets)
{
	std::u32string t;
	octets = false;
	if (source.compare(0, 2, "\xff\xfe") == 0 ||
	    source.compare(0, 2, "\xfe\xff") == 0) {
		bool be = source[0] == '\xfe';
		std::vector<char32_t> u;
		for (size_t i = 2; i + 1 < source.size(); i += 2)
			u.push_back(be ? (unsigned char)source[i] << 8 |
			                     (unsigned char)source[i + 1]
			               : (unsigned char)source[i + 1] << 8 |
			                     (unsigned char)source[i]);
		for (size_t i = 0; i < u.size(); i++)
			if (u[i] >= 0xd800 && u[i] < 0xdc00 &&
			    i + 1 < u.size() && u[i + 1] >= 0xdc00 &&
			    u[i + 1] < 0xe000) {
				t += (char32_t)(0x10000 +
				                ((u[i] - 0xd800) << 10) +
				                (u[i + 1] - 0xdc00));
				i++;
			} else
				t += u[i] >= 0xd800 && u[i] < 0xe000 ? U'\ufffd'
				                                     : u[i];
		if (source.size() % 2 != 0)
			t += U'\ufffd';
		return t.substr(0, t.find(0x1a));
	}
	bool marque = source.compare(0, 3, "\xef\xbb\xbf") == 0;
	std::string s = source.substr(marque ? 3 : 0);
	s.resize(std::min(s.size(), s.find('\x1a')));
	bool utf8 = marque;
	if (!marque) {
		size_t h = 0;
		while (h < s.size() && (unsigned char)s[h] < 0x80)
			h++;
		utf8 = h < s.size();
		char32_t c;
		for (size_t i = h, n; utf8 && i < s.size() && i < h + FENETRE;
		     i += (unsigned char)s[i] < 0x80 ? 1 : n)
			if ((unsigned char)s[i] >= 0x80)
				utf8 = sequence(s, i, c, n);
	}
	octets = !utf8;
	for (size_t i = 0, n; i < s.size(); i += n) {
		char32_t c;
		if (octets || !sequence(s, i, c, n)) {
			c = (unsigned char)s[i];
			if (!octets)
				c = car1252((unsigned char)c);
			n = 1;
		}
		t += c;
	}
	return t;
}

// Characters as the document holds them: windows-1252 bytes, or
// references for what windows-1252 lacks; bytes as they are when octets.
static std::string
ecrit(const std::u32string &t, bool octets)
{
	std::string s;
	for (char32_t c : t) {
		int b = octet1252(c);
		if (octets)
			s += (char)c;
		else if (b >= 0 && (c < 0x80 || c >= 0xa0))
			s += (char)b;
		else
			s += "&#" + std::to_string((unsigned long)c) + ";";
	}
	return s;
}

using Fiches = std::vector<std::pair<std::u32string, std::u32string>>;

// The same conversion, read line by line in the plainest way, with the
// records it makes as characters.
static void
modele(const std::string &source, char32_t sep, std::string &texte,
    std::string &messages, Fiches &fiches, bool &balises)
{
	bool octets;
	std::u32string s = decode(source, octets);
	balises = s.find_first_of(U"&<") != std::u32string::npos;
	texte = PROLOGUE;
	messages.clear();
	fiches.clear();
	long long n = 0;
	for (size_t i = 0; i < s.size();) {
		size_t j = s.find('\n', i);
		bool lf = j != std::u32string::npos;
		std::u32string l =
		    s.substr(i, lf ? j - i : std::u32string::npos);
		i = lf ? j + 1 : s.size();
		n++;
		if (lf && !l.empty() && l.back() == '\r')
			l.pop_back();
		if (size_t z = l.find(U'\0'); z != std::u32string::npos) {
			l.resize(z);
			lf = false;
		}
		size_t d = l.find_first_not_of(U" \t");
		if (d == std::u32string::npos)
			continue;
		l.erase(0, d);
		if (l[0] == '<') {
			texte += ecrit(l, octets) + (lf ? "\r\n" : "");
			continue;
		}
		l.resize(l.find_last_not_of(U" \t") + 1);
		char32_t cible = sep;
		if (octets && sep != 0)
			cible = octet1252(sep) < 0 ? 0xffffffff
			                           : (char32_t)octet1252(sep);
		size_t p = sep == 0 ? l.size() : l.find(cible);
		if (p == std::u32string::npos) {
			messages += AVERTISSEMENT + std::to_string(n) + ".\n";
			continue;
		}
		std::u32string q = l.substr(0, p),
		               r = p < l.size() ? l.substr(p + 1) : U"";
		texte += "<F><Q>" + ecrit(q, octets) + "</Q><R>" +
		         ecrit(r, octets) + "</R></F>\r\n";
		if (octets)
			for (auto *f : {&q, &r})
				for (char32_t &c : *f)
					c = car1252((unsigned char)c);
		fiches.emplace_back(q, r);
	}
	texte += FERMANTE;
}

// The records of a document read back as windows-1252, with their
// character references resolved.
static Fiches
relire(const std::string &texte)
{
	static const std::string F = "<F><Q>", QR = "</Q><R>", FF = "</R></F>";
	Fiches fiches;
	auto lis = [](const std::string &s) {
		std::u32string t;
		for (size_t i = 0; i < s.size(); i++) {
			size_t f = s.find(';', i);
			if (s.compare(i, 2, "&#") == 0 &&
			    f != std::string::npos) {
				t += (char32_t)std::stoul(
				    s.substr(i + 2, f - i - 2));
				i = f;
			} else
				t += car1252((unsigned char)s[i]);
		}
		return t;
	};
	for (size_t i = texte.find(F); i != std::string::npos;
	     i = texte.find(F, i + 1)) {
		size_t qr = texte.find(QR, i), ff = texte.find(FF, i);
		if (qr == std::string::npos || ff == std::string::npos)
			faux("a record is not whole");
		fiches.emplace_back(
		    lis(texte.substr(i + F.size(), qr - i - F.size())),
		    lis(texte.substr(qr + QR.size(), ff - qr - QR.size())));
	}
	return fiches;
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
	char32_t sep = data[0] == 0 ? 0 : separateurfuzz(data[0]);
	std::string source((const char *)data + 1, size - 1);

	std::string texte, messages, out, texte2, messages2, out2, attendu,
	    attenduerr;
	convertit(source, sep, BASE, texte, messages, out);
	proprietes(texte, messages);
	Fiches fiches;
	bool balises;
	modele(source, sep, attendu, attenduerr, fiches, balises);
	if (texte != attendu)
		faux("the document differs from the line-by-line reading");
	if (messages != attenduerr)
		faux("the warnings differ from the line-by-line reading");
	// Only where no '<' or '&' of the source could pass for markup or a
	// reference once in the document.
	if (!balises && relire(texte) != fiches)
		faux("the records read back are not the source's text");
	// Every wider step this processor has gives the same bytes.
	for (Jeu j = BASE; j < jeuprocesseur();) {
		j = (Jeu)(j + 1);
		convertit(source, sep, j, texte2, messages2, out2);
		if (texte2 != texte || messages2 != messages)
			faux("two vector steps give different documents");
		out += out2;
	}
	if (!out.empty())
		faux("something was written on standard output");
	return 0;
}
