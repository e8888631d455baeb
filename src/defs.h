/*
 * korvum's sizes, the encodings it reads, and the form in which decoded
 * text is held: what every file of the program, and its tests, agree on.
 */
#pragma once

#include <cstddef>
#include <cstdint>

/*
 * Read size, and the document's output buffers' (the fuzzer makes both
 * small, apart).  Both have MARGE bytes past their end, where the scans and
 * copies, 8 to 64 bytes a step, may step over the end of what they handle.
 */
#ifndef KORVUM_BLOC
#define KORVUM_BLOC 262144 /* 256 KiB */
#endif
#ifndef KORVUM_TAILLEDOC
#define KORVUM_TAILLEDOC KORVUM_BLOC
#endif
inline constexpr size_t BLOC = KORVUM_BLOC;
inline constexpr size_t TAILLEDOC = KORVUM_TAILLEDOC;
inline constexpr size_t MARGE = 64;
inline constexpr size_t ENVOL = 3; /* output buffers the writer may hold */

/*
 * A record is <F><Q>q</Q><R>r</R></F> and its line end: these three
 * pieces around its fields.  TAILLEFICHE is what it takes but its fields.
 */
inline constexpr char OUVREFICHE[] = "<F><Q>";
inline constexpr char ENTRECHAMPS[] = "</Q><R>";
inline constexpr char FERMEFICHE[] = "</R></F>\r\n";
inline constexpr size_t TAILLEFICHE =
    sizeof OUVREFICHE + sizeof ENTRECHAMPS + sizeof FERMEFICHE - 3;
/* A field of a record: its n bytes at p. */
struct Champ {
	const char *p;
	size_t n;
};
/* The most a record takes whose fields' n bytes are written as references. */
inline constexpr size_t
pireplace(size_t n)
{
	return TAILLEFICHE + 8 * n;
}

/* How much of a source, from its first byte above 127, tells its encoding. */
#ifndef KORVUM_FENETRE
#define KORVUM_FENETRE 65536
#endif
inline constexpr size_t FENETRE = KORVUM_FENETRE;
inline constexpr size_t NULLE = SIZE_MAX; /* no such position */

/* The most lines a spreadsheet's row may take: a stray quote takes no more. */
inline constexpr size_t RANGEE = 8;

/*
 * What the sweep of 64 bytes finds (see balayer), a bit a byte, the first
 * byte's the lowest: the line ends, the bytes that need attention (SIGNE),
 * the bytes above 127, and the separator's byte when it is ASCII.  A Lot
 * holds the sweep of up to LOT blocks and a clear block past them, each
 * kind in an array of its own, so that the bits of any 64 bytes are read
 * in one go.
 */
struct Masques {
	std::uint64_t fins, sigs, hauts, seps;
};
inline constexpr size_t LOT = 256;
struct Lot {
	std::uint64_t fins[LOT + 1], sigs[LOT + 1], hauts[LOT + 1],
	    seps[LOT + 1];
};

/* How much of a target tells a document: mark, blanks, declaration. */
inline constexpr size_t TETE = 1024;

/* SSE2 is there on every x86-64 processor; SSSE3 and AVX2 are asked for. */
#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
#define KORVUM_SSE2 1
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(KORVUM_SANS_SIMD)
#define KORVUM_SSSE3 1
#endif

/*
 * An encoding: the source's (AUCUN until its first bytes are read; HUIT
 * when read as it is, a line in windows-1252 or UTF-8), or a line's.
 */
enum Codage { AUCUN, HUIT, UTF16LE, UTF16BE, CP1252, UTF8 };

/* What a line read as it is tells of its encoding (see classer). */
enum Dit { ASCII, DIT1252, DITUTF8, DOUTE };

/* The widest vector steps to take: the processor's; the fuzzer tries each. */
enum Jeu { BASE, SSSE3, AVX2 };

/*
 * A decoded source is held in windows-1252, the document's encoding, so
 * that its lines are found, split and copied as a windows-1252 source's
 * are.  A character that must be written as a reference (one that
 * windows-1252 lacks, or a C1 control character, whose unassigned bytes
 * XML readers refuse) is held as the escape ECH and three bytes of seven
 * bits of its value, each with its high bit set: no byte of it can be
 * taken for a line end, a blank, '<' or an ASCII separator.  ECH stands
 * for a C1 control character, so no other character is held as it.
 */
inline constexpr unsigned char ECH = 0x81;
inline constexpr unsigned char BITECH = 0x80;
inline constexpr size_t LECH = 4;

/* Whether the n bytes at p begin with UTF-8's byte-order mark, EF BB BF. */
inline bool
marqueutf8(const void *p, size_t n)
{
	const auto *u = (const unsigned char *)p;

	return n >= 3 && u[0] == 0xef && u[1] == 0xbb && u[2] == 0xbf;
}

/* The character that the escape at p holds. */
inline char32_t
caractereech(const char *p)
{
	return (
	    char32_t)((p[1] & 0x7f) << 14 | (p[2] & 0x7f) << 7 | (p[3] & 0x7f));
}

/*
 * Whether b is one of the five bytes windows-1252 leaves unassigned, which
 * Windows maps to the C1 controls of the same values.
 */
inline constexpr bool
nonassigne(unsigned char b)
{
	return b == 0x81 || b == 0x8d || b == 0x8f || b == 0x90 || b == 0x9d;
}

/*
 * What korvum knows of each byte, in one table, a bit a class: the blanks
 * a line's text is cut of at both ends (TAB, LF, space; a CR is none);
 * the bytes that end a line (LF, and CR in a source of CR line ends); the
 * byte that makes a line markup, first after its blanks ('<'); and the
 * bytes that the document cannot take as they are, or that a reader
 * must look at (SIGNE): the controls XML forbids (the zero byte, which
 * ends a line's text, among them), '&', '<', ']', the quote that may
 * begin a spreadsheet's cell (see citer), and the five bytes that
 * windows-1252 leaves unassigned (0x81, the escape ECH, among them).  A
 * line that holds no SIGNE is written as it stands.  The sweep's vector
 * constants are derived from this table.
 */
enum Nature : unsigned char {
	BLANC = 1,
	FINLF = 2,
	FINCR = 4,
	SIGNE = 8,
	BALISE1 = 16 /* begins a markup line */
};
inline constexpr struct Natures {
	unsigned char t[256];
} NATURE = [] {
	Natures c{};
	for (int b = 0; b < 256; b++)
		c.t[b] = (b < 0x20 && b != '\t' && b != '\n' && b != '\r') ||
		                 nonassigne((unsigned char)b)
		             ? SIGNE
		             : 0;
	c.t[(int)'&'] = c.t[(int)']'] = c.t[(int)'"'] = SIGNE;
	c.t[(int)'<'] = SIGNE | BALISE1;
	c.t[(int)'\t'] = c.t[(int)' '] = BLANC;
	c.t[(int)'\n'] = BLANC | FINLF | FINCR;
	c.t[(int)'\r'] = FINCR;
	return c;
}();

/*
 * Whether the byte c is of the classes k.  Classes whose bytes all stand
 * below 64 (the blanks, the '<' of markup) are looked up in one word,
 * which leaves the line loop's registers free of the table's address.
 */
template <unsigned k>
inline constexpr bool
est(char c)
{
	constexpr std::uint64_t bas = [] {
		std::uint64_t m = 0;
		for (int b = 0; b < 64; b++)
			m |= (NATURE.t[b] & k) != 0 ? 1ull << b : 0;
		return m;
	}();
	constexpr bool dessous = [] {
		for (int b = 64; b < 256; b++)
			if ((NATURE.t[b] & k) != 0)
				return false;
		return true;
	}();
	auto u = (unsigned char)c;

	if constexpr (dessous)
		return u < 64 && (bas >> u & 1) != 0;
	return (NATURE.t[u] & k) != 0;
}

/*
 * The escape's promise: none of its bytes (ECH, then three with BITECH
 * set) is a blank, a line end, '<', '&', ']' or ASCII, which an ASCII
 * separator is, so that no rule of a line finds one inside an escape;
 * and ECH needs attention, so that a line that holds one is looked at.
 */
static_assert([] {
	for (int b = 0; b < 256; b++)
		if ((b == ECH || (b & BITECH) != 0) &&
		    ((NATURE.t[b] & (BLANC | FINLF | FINCR)) != 0 || b < 0x80 ||
		        b == '<' || b == '&' || b == ']'))
			return false;
	return est<SIGNE>((char)ECH);
}());
