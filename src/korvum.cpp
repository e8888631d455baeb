/*
 * korvum: turn a text file of two-column lines into an XML document of
 * Q/R records.
 *
 *	korvum fichier_source fichier_but [séparateur]
 *
 * A line that holds the separator (a space by default) becomes the record
 * <F><Q>before</Q><R>after</R></F>.  A line whose first non-blank
 * character is '<' is copied as it is, so that the source can carry markup
 * of its own.  Blank lines are skipped, and any other line is reported on
 * standard error with its number.  The root element's TYPE is the last
 * character of the target's name, upper-cased.
 *
 * The source is read the way a Windows text stream reads it (CR LF is one
 * LF, a lone CR stays, the character 0x1A ends the source) and every line
 * of the document ends in CR LF, so that the same source and command line
 * give the same bytes on every platform.
 *
 * The document is in windows-1252, the encoding its readers expect.  The
 * source may be in windows-1252, which is copied byte for byte, or in
 * UTF-8 or UTF-16, as today's editors save it.  Such a source is decoded
 * into windows-1252 as it is read, so that the lines are found in one way
 * for every source; a character that windows-1252 lacks is written as a
 * character reference (&#937;) once its line was split.
 *
 * The source is read and the document written in large blocks; a line is
 * handled whole, however long, straight from the read buffer.
 */

#include <sys/stat.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
#include <emmintrin.h>
#endif
/* SSSE3's byte shuffle, for the processors that have it (nearly all). */
#if defined(__x86_64__) && defined(__GNUC__) && !defined(KORVUM_SANS_SIMD)
#define KORVUM_SSSE3 1
#include <tmmintrin.h>
#endif

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

/* The messages, in UTF-8; the Windows build writes them for its console. */
static const char SYNTAXE[] =
    "Syntaxe : \"korvum <fichier_source> <fichier_but> <séparateur>\"\n";
static const char DEFAUT[] = "Le séparateur est un caractère blanc par "
                             "défaut.\n";
static const char OUVRIRENTREE[] = "Impossible d'ouvrir le fichier d'entrée!\n";
static const char OUVRIRSORTIE[] =
    "Impossible d'ouvrir le fichier de sortie!\n";
static const char LIRE[] = "Impossible de lire le fichier d'entrée!\n";
static const char ECRIRE[] = "Impossible d'écrire le fichier de sortie!\n";
static const char MEMEFICHIER[] =
    "Le fichier de sortie est le fichier d'entrée!\n";
static const char PASDESEPAR[] = "Pas de séparateur ligne ";

/*
 * Read size, and the size of the document's output buffer (the fuzzer
 * makes them small, to reach their edges often).  Both buffers have MARGE
 * bytes to spare past their end, so that the scans and copies below can
 * work in steps of 8 to 64 bytes and step over the end of what they
 * handle.
 */
#ifndef KORVUM_BLOC
#define KORVUM_BLOC 262144 /* 256 KiB */
#endif
static const size_t BLOC = KORVUM_BLOC;
static const size_t SORTIE = KORVUM_BLOC;
static const size_t MARGE = 64;

/*
 * How much of a source without byte-order mark is looked at, from its
 * first byte above 127, to tell UTF-8 from windows-1252.
 */
#ifndef KORVUM_FENETRE
#define KORVUM_FENETRE 65536
#endif
static const size_t FENETRE = KORVUM_FENETRE;
static const size_t NULLE = SIZE_MAX; /* no such position */

/* The source's encoding; AUCUN until its first bytes are read. */
enum Codage { AUCUN, INCONNU, CP1252, UTF8, UTF16LE, UTF16BE };

/*
 * windows-1252's characters for the bytes 0x80 to 0x9F, as Windows maps
 * them: the five bytes it leaves unassigned stand for the control
 * characters of the same number, so that every byte is a character.
 */
static const char16_t CAR1252[32] = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e,
    0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d,
    0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013,
    0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

/*
 * A decoded source is held in windows-1252, the document's encoding, so
 * that its lines are found, split and copied as a windows-1252 source's
 * are.  A character that must be written as a reference (one that
 * windows-1252 lacks, or a C1 control character, whose unassigned bytes
 * XML readers refuse) is held as the escape ECHAPPE and three bytes of
 * seven bits of its value, each with its high bit set: no byte of it can
 * be taken for a line end, a blank, '<' or an ASCII separator.  ECHAPPE
 * stands for a C1 control character, so no other character is held as it.
 */
static const unsigned char ECHAPPE = 0x81;
static const size_t LECHAPPE = 4;

static int entree = -1;       /* the source */
static int sortie = -1;       /* the target document */
static bool sortiefichier;    /* target is a regular file */
static char32_t separ = ' ';  /* separator character; 0 for none */
static std::int64_t ligne;    /* physical line number */
static char *tampon;          /* read buffer; grows with the longest line */
static size_t taille;         /* its size */
static unsigned char typedoc; /* TYPE of the root element */
static Codage codage;         /* the source's encoding */
static size_t echappes;       /* escapes held in tampon so far */
static unsigned char brut[BLOC + FENETRE + MARGE]; /* bytes to decode */
static size_t reste;                               /* how many */
static bool tari; /* nothing more to read: the end, or 0x1A, was met */
#ifdef KORVUM_SSSE3
static bool ssse3; /* the processor has SSSE3's byte shuffle */
#endif
static char doc[SORTIE + MARGE]; /* document bytes not yet written */
static size_t doclen;
static int canal = 2; /* where messages go: standard error */

static void preparer(int *, char ***);
static int ouvrirsource(const char *);
static bool memefichier(const char *);
static int ouvrirbut(const char *);
static size_t lire(char *, size_t);
static bool ecrire(const char *, size_t);
static bool fermer(int);
static void tronquer();
static void message(const char *, size_t);

static bool fermetout();
[[noreturn]] static void erreur(const char *);
static void avertir();
static char32_t argument(const char *, bool);
static char32_t car1252(unsigned char);
static int octet(char32_t);
static long utf8(const unsigned char *, const unsigned char *, int *);
static bool decodee();
static int ecrit(char32_t);
static size_t interne(char *, char32_t);
static const char *debutchaine(const char *, const char *);
static const char *rtrim(const char *, const char *);
static const char *cherche(const char *, const char *, int);
static const char *separateur(const char *, const char *, size_t *);
static std::uint64_t finsdeligne(const char *);
static void copie(char *, const char *, size_t);
static void emettre(const char *, size_t);
static void texte(const char *, size_t);
static void vider();
static void enregistrement(const char *, size_t, const char *, size_t);
static void traiter(const char *, const char *, bool);
static size_t debutsource(char *);
static size_t latin8(char *, const unsigned char *, unsigned char *);
#ifdef KORVUM_SSSE3
static size_t latin8ssse3(char *, const unsigned char *);
#endif
static size_t huit(char *, size_t, bool);
static size_t latin16(
    char *, const unsigned char *, const unsigned char *, bool);
static size_t seize(char *, size_t, bool);
static size_t remplir(char *, size_t);
static size_t ascii(const char *, size_t);
static Codage deviner(const char *, const char *);
static void convertir();
static void rediger();

#ifndef KORVUM_SANS_MAIN
int
main(int argc, char *argv[])
{
	preparer(&argc, &argv);
	if (argc <= 2) {
		message(SYNTAXE, sizeof SYNTAXE - 1);
		message(DEFAUT, sizeof DEFAUT - 1);
		fermetout();
		return 0;
	}

	if ((entree = ouvrirsource(argv[1])) < 0)
		erreur(OUVRIRENTREE);
	if (memefichier(argv[2]))
		erreur(MEMEFICHIER);
	if ((sortie = ouvrirbut(argv[2])) < 0)
		erreur(OUVRIRSORTIE);

	char32_t c = argument(argv[2], true);
	int b = octet(c);
	typedoc = c >= 'a' && c <= 'z' ? (unsigned char)(c - 'a' + 'A')
	          : b >= 0             ? (unsigned char)b
	                               : '?';
	if (argc >= 4)
		separ = argument(argv[3], false);

	rediger();
	if (!fermetout())
		erreur(ECRIRE);
	return 0;
}
#endif

/*
 * Write the whole document to sortie: the declaration, the root start
 * tag, a piece for each line of entree, and the closing tag.
 */
static void
rediger()
{
	static const char DECLARATION[] =
	    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
	static const char RACINE[] = "<SOLVARINE TYPE=\"";
	static const char CHAMPS[] = "\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n";
	static const char FIN[] = "</SOLVARINE>";

	emettre(DECLARATION, sizeof DECLARATION - 1);
	emettre(RACINE, sizeof RACINE - 1);
	emettre((const char *)&typedoc, 1);
	emettre(CHAMPS, sizeof CHAMPS - 1);
	convertir();
	emettre(FIN, sizeof FIN - 1);
	vider();
}

/*
 * Close whichever file is open.  Returns false when the target's close
 * failed, which means its last bytes may not have reached the disk.
 */
static bool
fermetout()
{
	bool ok = true;

	if (entree >= 0)
		fermer(entree);
	if (sortie >= 0)
		ok = fermer(sortie);
	entree = sortie = -1;
	return ok;
}

/*
 * The single fatal path: say why, leave no half-written document behind
 * (a regular target is emptied; a device is left alone), close both files
 * and end with status 1.
 */
static void
erreur(const char *msg)
{
	message(msg, std::strlen(msg));
	if (sortie >= 0 && sortiefichier)
		tronquer();
	fermetout();
	std::exit(1);
}

/* Report the current line as lacking the separator, in one write. */
static void
avertir()
{
	char m[sizeof PASDESEPAR + 24];
	char *p = m + sizeof PASDESEPAR - 1;

	std::memcpy(m, PASDESEPAR, sizeof PASDESEPAR - 1);
	p = std::to_chars(p, m + sizeof m - 2, ligne).ptr;
	*p++ = '.';
	*p++ = '\n';
	message(m, (size_t)(p - m));
}

/*
 * The first (or the last) character of a command-line argument, 0 when it
 * is empty.  An argument that is well-formed UTF-8 is read as UTF-8, as a
 * UTF-8 terminal or the Windows build hands it over; any other is read as
 * windows-1252, a character a byte.
 */
static char32_t
argument(const char *a, bool dernier)
{
	const auto *p = (const unsigned char *)a;
	const auto *fin = p + std::strlen(a);
	long premier = -1, c = 0;
	int n = 1;

	for (const unsigned char *q = p; q < fin; q += n) {
		c = utf8(q, fin, &n);
#ifdef _WIN32
		/* A Windows name may hold a lone surrogate: one character. */
		if (c < 0 && fin - q >= 3 && q[0] == 0xed &&
		    (q[1] & 0xe0) == 0xa0 && (q[2] & 0xc0) == 0x80) {
			c = 0xd000 | (q[1] & 0x3f) << 6 | (q[2] & 0x3f);
			n = 3;
		}
#endif
		if (c < 0)
			return car1252(dernier ? fin[-1] : p[0]);
		if (premier < 0)
			premier = c;
	}
	return (char32_t)(dernier ? c : premier < 0 ? 0 : premier);
}

/* The windows-1252 character of a byte. */
static char32_t
car1252(unsigned char b)
{
	return b >= 0x80 && b < 0xa0 ? CAR1252[b - 0x80] : b;
}

/* The windows-1252 byte of a character, or -1 when it has none. */
static int
octet(char32_t c)
{
	if (c < 0x80 || (c >= 0xa0 && c <= 0xff))
		return (int)c;
	for (int i = 0; i < 32; i++)
		if (CAR1252[i] == c)
			return 0x80 + i;
	return -1;
}

/*
 * The character that the well-formed UTF-8 sequence at p encodes, its
 * length in *n.  -1 when the bytes at p are not one: an overlong form, a
 * surrogate, a value above U+10FFFF; -2 when fin cuts them short before
 * they went wrong.
 */
static long
utf8(const unsigned char *p, const unsigned char *fin, int *n)
{
	unsigned char b = p[0];
	unsigned char bas = 0x80, haut = 0xbf; /* the second byte's range */
	long c;

	if (b < 0x80) {
		*n = 1;
		return b;
	}
	if (b >= 0xc2 && b <= 0xdf) {
		*n = 2;
		c = b & 0x1f;
	} else if (b >= 0xe0 && b <= 0xef) {
		*n = 3;
		c = b & 0x0f;
		if (b == 0xe0)
			bas = 0xa0;
		else if (b == 0xed)
			haut = 0x9f;
	} else if (b >= 0xf0 && b <= 0xf4) {
		*n = 4;
		c = b & 0x07;
		if (b == 0xf0)
			bas = 0x90;
		else if (b == 0xf4)
			haut = 0x8f;
	} else
		return -1;
	for (int i = 1; i < *n; i++) {
		if (p + i == fin)
			return -2;
		if (p[i] < (i == 1 ? bas : 0x80) ||
		    p[i] > (i == 1 ? haut : 0xbf))
			return -1;
		c = c << 6 | (p[i] & 0x3f);
	}
	return c;
}

/* Whether the source is decoded (UTF-8 or UTF-16), not copied as it is. */
static inline bool
decodee()
{
	return codage != CP1252 && codage != INCONNU;
}

/*
 * The byte a decoded character is written as, or -1 when it is written
 * as a reference: windows-1252 lacks it, or it is a C1 control character.
 */
static inline int
ecrit(char32_t c)
{
	return c >= 0x80 && c < 0xa0 ? -1 : octet(c);
}

/*
 * Hold the decoded character c at d: its windows-1252 byte, or its
 * escape.  Returns the bytes written.
 */
static inline size_t
interne(char *d, char32_t c)
{
	int b = ecrit(c);

	if (b >= 0) {
		d[0] = (char)b;
		return 1;
	}
	d[0] = (char)ECHAPPE;
	d[1] = (char)(0x80 | (c >> 14 & 0x7f));
	d[2] = (char)(0x80 | (c >> 7 & 0x7f));
	d[3] = (char)(0x80 | (c & 0x7f));
	echappes++;
	return LECHAPPE;
}

/* The character that the escape at p holds. */
static inline char32_t
echappe(const char *p)
{
	return (
	    char32_t)((p[1] & 0x7f) << 14 | (p[2] & 0x7f) << 7 | (p[3] & 0x7f));
}

/* Where the text of [s, fin) begins: past its spaces, TABs and LFs. */
static const char *
debutchaine(const char *s, const char *fin)
{
	while (s < fin && (*s == ' ' || *s == '\t' || *s == '\n'))
		s++;
	return s;
}

/*
 * Where the text of [s, fin) ends once its trailing blanks are cut; the
 * caller makes sure that s holds a byte that is not blank.
 */
static const char *
rtrim(const char *s, const char *fin)
{
	while (
	    fin > s && (fin[-1] == ' ' || fin[-1] == '\t' || fin[-1] == '\n'))
		fin--;
	return fin;
}

/*
 * The first byte c in [p, fin), or nullptr: memchr, inlined for the short
 * spans of a line, 32 bytes a step so that most lines take one.  The last
 * step may look at up to 31 bytes past fin, which the buffer's margin
 * holds.
 */
static inline const char *
cherche(const char *p, const char *fin, int c)
{
#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
	const __m128i v = _mm_set1_epi8((char)c);
	for (; p < fin; p += 32) {
		__m128i a = _mm_loadu_si128((const __m128i *)(const void *)p);
		__m128i b =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + 16));
		unsigned m = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(a, v)) |
		             (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(b, v))
		                 << 16;
		if (m != 0) {
			p += std::countr_zero(m);
			return p < fin ? p : nullptr;
		}
	}
	return nullptr;
#else
	return (const char *)std::memchr(p, c, (size_t)(fin - p));
#endif
}

/*
 * The first separator in the line [s, fin), or nullptr, with its length
 * in *n.  The zero separator (an empty third argument) stands at the end
 * of the line.  A separator windows-1252 has is its byte, found by a byte
 * scan while no escape is held; one it lacks can then not be there.  Once
 * escapes are held, a separator above 127 is looked for character by
 * character, so that no byte of an escape is taken for it.
 */
static const char *
separateur(const char *s, const char *fin, size_t *n)
{
	bool decode = decodee();
	int b = decode ? ecrit(separ) : octet(separ);

	*n = 1;
	if (separ == 0) {
		*n = 0;
		return fin;
	}
	if (!decode || echappes == 0 || separ < 0x80)
		return b < 0 ? nullptr : cherche(s, fin, b);
	for (const char *p = s; p < fin; p++) {
		if ((unsigned char)*p != ECHAPPE) {
			if ((unsigned char)*p == b)
				return p;
			continue;
		}
		if (echappe(p) == separ) {
			*n = LECHAPPE;
			return p;
		}
		p += LECHAPPE - 1;
	}
	return nullptr;
}

/*
 * One bit for each LF among the 64 bytes at p, the first byte's bit the
 * lowest: the line ends of a stretch of the source found in one go.
 */
static inline std::uint64_t
finsdeligne(const char *p)
{
	std::uint64_t m = 0;
#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
	const __m128i lf = _mm_set1_epi8('\n');
	for (int i = 0; i < 64; i += 16) {
		__m128i o =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + i));
		m |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		         _mm_cmpeq_epi8(o, lf))
		     << i;
	}
#else
	for (int i = 0; i < 64; i++)
		m |= (std::uint64_t)(p[i] == '\n') << i;
#endif
	return m;
}

/*
 * Copy n bytes in steps of 32, most fields in one; the last step may copy
 * up to 31 bytes too many, from and into the buffers' margins, where the
 * next piece lands.
 */
static inline void
copie(char *d, const char *s, size_t n)
{
	for (size_t i = 0; i == 0 || i < n; i += 32)
		std::memcpy(d + i, s + i, 32);
}

/*
 * Append n bytes to the document; a piece larger than the buffer goes
 * straight to the target.
 */
static void
emettre(const char *p, size_t n)
{
	if (n > SORTIE - doclen) {
		vider();
		if (n >= SORTIE) {
			if (!ecrire(p, n))
				erreur(ECRIRE);
			return;
		}
	}
	std::memcpy(doc + doclen, p, n);
	doclen += n;
}

/*
 * Append text of the source to the document: as it is, but for the
 * escapes of a decoded source, each written as the decimal character
 * reference of what it holds (&#937;).
 */
static void
texte(const char *s, size_t n)
{
	const char *fin = s + n, *e;

	if (!decodee() || echappes == 0) {
		emettre(s, n);
		return;
	}
	while ((e = cherche(s, fin, ECHAPPE)) != nullptr) {
		char r[12] = "&#";
		char *p = std::to_chars(
		    r + 2, r + sizeof r - 1, (unsigned long)echappe(e))
		              .ptr;
		*p++ = ';';
		emettre(s, (size_t)(e - s));
		emettre(r, (size_t)(p - r));
		s = e + LECHAPPE;
	}
	emettre(s, (size_t)(fin - s));
}

/* Write out the document's buffered bytes. */
static void
vider()
{
	if (doclen > 0 && !ecrire(doc, doclen))
		erreur(ECRIRE);
	doclen = 0;
}

/* Append the record <F><Q>q</Q><R>r</R></F> and its line end. */
static void
enregistrement(const char *q, size_t nq, const char *r, size_t nr)
{
	static const char F[] = "<F><Q>", QR[] = "</Q><R>",
	                  FF[] = "</R></F>\r\n";
	size_t n = sizeof F - 1 + nq + sizeof QR - 1 + nr + sizeof FF - 1;

	if (n > SORTIE - doclen ||
	    (echappes > 0 && decodee() &&
	        cherche(q, r + nr, ECHAPPE) != nullptr)) {
		emettre(F, sizeof F - 1);
		texte(q, nq);
		emettre(QR, sizeof QR - 1);
		texte(r, nr);
		emettre(FF, sizeof FF - 1);
		return;
	}
	char *p = doc + doclen;
	std::memcpy(p, F, sizeof F - 1);
	p += sizeof F - 1;
	copie(p, q, nq);
	p += nq;
	std::memcpy(p, QR, sizeof QR - 1);
	p += sizeof QR - 1;
	copie(p, r, nr);
	p += nr;
	std::memcpy(p, FF, sizeof FF - 1);
	doclen += n;
}

/*
 * Handle one line of the source: its text is [s, fin), without its line
 * end; lf tells whether the text ended at a line end (and not at a zero
 * byte or at the end of the source).
 */
static void
traiter(const char *s, const char *fin, bool lf)
{
	ligne++;
	s = debutchaine(s, fin);
	if (s == fin)
		return;
	if (*s == '<') {
		texte(s, (size_t)(fin - s));
		if (lf)
			emettre("\r\n", 2);
		return;
	}
	fin = rtrim(s, fin);
	size_t n;
	const char *p = separateur(s, fin, &n);
	if (p == nullptr) {
		avertir();
		return;
	}
	enregistrement(s, (size_t)(p - s), p + n, (size_t)(fin - p) - n);
}

/*
 * Read the first bytes of the source to p, and say how many are text.  A
 * byte-order mark names the encoding and is not text: the bytes after it
 * wait in brut to be decoded.  Without a mark the encoding is not known
 * yet.  Reads are taken whatever their size, until the mark is known.
 */
static size_t
debutsource(char *p)
{
	size_t n = 0, r = 1, m = 0;

	while (n < 3 && r > 0)
		n += r = lire(p + n, BLOC - n);
	tari = r == 0;
	const auto *u = (const unsigned char *)p;
	codage = INCONNU;
	if (n >= 3 && u[0] == 0xef && u[1] == 0xbb && u[2] == 0xbf) {
		codage = UTF8;
		m = 3;
	} else if (n >= 2 && u[0] == 0xff && u[1] == 0xfe) {
		codage = UTF16LE;
		m = 2;
	} else if (n >= 2 && u[0] == 0xfe && u[1] == 0xff) {
		codage = UTF16BE;
		m = 2;
	} else
		return n;
	reste = n - m;
	std::memcpy(brut, p + m, reste);
	return 0;
}

/*
 * Decode the eight UTF-8 bytes at p to d when they are ASCII and at most
 * two Latin-1 letters (C2 A0 to C3 BF: the letters of French and of most
 * Western lists), all in one go, with no branch for where the letters
 * stand; say how many bytes that made, 0 when the bytes are anything
 * else.  A letter's second byte becomes its windows-1252 byte, and its
 * first is taken out by shifting what follows it down by one.  A letter
 * may begin in the eighth byte (*suite then holds that byte for the next
 * eight, whose first it ends) or have begun in the last eight.  p[8] must
 * be readable; eight bytes are written at d.
 */
static inline size_t
latin8(char *d, const unsigned char *p, unsigned char *suite)
{
	const std::uint64_t UN = 0x0101010101010101u,
	                    HAUT = 0x8080808080808080u;
	std::uint64_t w;

	if constexpr (std::endian::native != std::endian::little)
		return 0;
	std::memcpy(&w, p, 8);
	/* One bit (a byte's high bit) for each byte equal to c. */
	auto egal = [w](std::uint64_t c) {
		std::uint64_t x = w ^ (c * UN);
		return ~(((x & ~HAUT) + ~HAUT) | x) & HAUT;
	};
	std::uint64_t c3 = egal(0xc3), c2 = egal(0xc2), tete = c3 | c2;
	std::uint64_t apresc3 = c3 << 8 | (*suite == 0xc3 ? 0x80 : 0);
	std::uint64_t apresc2 = c2 << 8 | (*suite == 0xc2 ? 0x80 : 0);
	std::uint64_t seconds = apresc3 | apresc2;
	std::uint64_t bas = tete & (~tete + 1), haut = tete ^ bas;
	unsigned char o = p[8]; /* the second byte of a letter begun last */

	/* Every high byte a letter's first or second, the second 80 to BF
	 * (A0 to BF after C2), and two letters at most. */
	if ((w & HAUT) != (tete | (seconds & HAUT)) ||
	    (w << 1 & seconds) != 0 || (~(w << 2) & apresc2) != 0 ||
	    (haut & (haut - 1)) != 0 ||
	    (tete >> 63 != 0 &&
	        ((o & 0xc0) != 0x80 || (p[7] == 0xc2 && o < 0xa0))))
		return 0;
	w += apresc3 >> 1;                     /* C3 xx is xx + 0x40 */
	std::uint64_t avant = (haut >> 7) - 1; /* the later letter first */
	w = (w & avant) | (w >> 8 & ~avant);
	avant = (bas >> 7) - 1;
	w = (w & avant) | (w >> 8 & ~avant);
	std::memcpy(d, &w, 8);
	*suite = tete >> 63 != 0 ? p[7] : 0;
	return 8 - (size_t)(bas != 0) - (size_t)(haut != 0);
}

#ifdef KORVUM_SSSE3
/*
 * For each set of first bytes of letters among eight bytes (one bit a
 * byte), the places of the bytes to keep, in order, and how many.
 */
struct Tri {
	unsigned char ordre[256][8];
	unsigned char garde[256];
};
static constexpr Tri TRI = [] {
	Tri t{};
	for (unsigned m = 0; m < 256; m++) {
		unsigned char k = 0;
		for (unsigned char i = 0; i < 8; i++)
			if ((m >> i & 1) == 0)
				t.ordre[m][k++] = i;
		t.garde[m] = k;
		for (unsigned i = k; i < 8; i++)
			t.ordre[m][i] = 0x80; /* a zero byte */
	}
	return t;
}();

/*
 * latin8, sixteen bytes at a time, for processors with SSSE3: the first
 * bytes of the letters are taken out by a shuffle of each eight.  Any
 * number of letters; none may begin in the sixteenth byte.  Sixteen bytes
 * are written at d.
 */
__attribute__((target("ssse3"))) static size_t
latin8ssse3(char *d, const unsigned char *p)
{
	__m128i v = _mm_loadu_si128((const __m128i *)(const void *)p);
	__m128i c3 = _mm_cmpeq_epi8(v, _mm_set1_epi8((char)0xc3));
	__m128i c2 = _mm_cmpeq_epi8(v, _mm_set1_epi8((char)0xc2));
	unsigned haut = (unsigned)_mm_movemask_epi8(v);
	unsigned tetes = (unsigned)_mm_movemask_epi8(_mm_or_si128(c3, c2));
	unsigned seconds = tetes << 1;
	unsigned b6 = (unsigned)_mm_movemask_epi8(_mm_slli_epi16(v, 1));
	unsigned b5 = (unsigned)_mm_movemask_epi8(_mm_slli_epi16(v, 2));
	unsigned apresc2 = (unsigned)_mm_movemask_epi8(c2) << 1;

	if (haut != (tetes | seconds) || (tetes & seconds) != 0 ||
	    (seconds & b6) != 0 || (apresc2 & ~b5) != 0)
		return 0; /* (a letter begun in the sixteenth byte sets bit 16)
		           */
	v = _mm_add_epi8(
	    v, _mm_and_si128(_mm_slli_si128(c3, 1), _mm_set1_epi8(0x40)));
	unsigned bas = tetes & 0xff, hautes = tetes >> 8;
	_mm_storel_epi64((__m128i *)(void *)d,
	    _mm_shuffle_epi8(
	        v, _mm_loadl_epi64(
	               (const __m128i *)(const void *)TRI.ordre[bas])));
	_mm_storel_epi64((__m128i *)(void *)(d + TRI.garde[bas]),
	    _mm_shuffle_epi8(_mm_srli_si128(v, 8),
	        _mm_loadl_epi64(
	            (const __m128i *)(const void *)TRI.ordre[hautes])));
	return (size_t)TRI.garde[bas] + TRI.garde[hautes];
}
#endif

/*
 * Decode the UTF-8 bytes brut[0, n) to d, and say how many bytes that
 * made: ASCII and Latin-1 letters eight or sixteen bytes a step, other
 * characters one by one, and a byte that is part of no well-formed
 * sequence as its windows-1252 character.
 * A sequence cut at n waits in brut, with the bytes past n, unless there
 * are no more (fini).
 */
static size_t
huit(char *d, size_t n, bool fini)
{
	const unsigned char *p = brut, *f = brut + n;
	unsigned char suite = 0;
	char *d0 = d;

	while (p < f) {
		size_t l8;
#ifdef KORVUM_SSSE3
		if (ssse3 && suite == 0 && f - p >= 16 &&
		    (l8 = latin8ssse3(d, p)) > 0) {
			d += l8;
			p += 16;
			continue;
		}
#endif
		if (f - p > 8 && (l8 = latin8(d, p, &suite)) > 0) {
			d += l8;
			p += 8;
			continue;
		}
		if (suite != 0) { /* the second byte of a letter begun */
			*d++ = (char)((suite & 3) << 6 | (*p++ & 0x3f));
			suite = 0;
			continue;
		}
		std::uint64_t w, h;
		std::memcpy(&w, p, 8);
		std::memcpy(d, &w, 8);
		h = w & 0x8080808080808080u;
		size_t k = h == 0 ? 8
		           : std::endian::native == std::endian::little
		               ? (size_t)std::countr_zero(h) / 8
		               : (size_t)std::countl_zero(h) / 8;
		if (k >= (size_t)(f - p)) {
			d += f - p;
			p = f;
			break;
		}
		p += k;
		d += k;
		if (k == 8)
			continue;

		int l;
		long c = utf8(p, f, &l);
		if (c == -2 && !fini)
			break; /* the rest of it is still to come */
		if (c < 0) {
			c = (long)car1252(*p);
			l = 1;
		}
		d += interne(d, (char32_t)c);
		p += l;
	}
	reste -= (size_t)(p - brut);
	std::memmove(brut, p, reste);
	return (size_t)(d - d0);
}

/*
 * Copy the characters that begin the UTF-16 bytes [p, f) to d while each
 * is its own windows-1252 byte (below 256, and not a C1 control), and
 * say how many: eight a step with SSE2, then one by one.  Up to seven
 * bytes past them may be written at d.
 */
static inline size_t
latin16(char *d, const unsigned char *p, const unsigned char *f, bool be)
{
	size_t k = 0;
#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
	const __m128i haut = _mm_set1_epi16((short)0xff00);
	const __m128i c1 = _mm_set1_epi16((short)0xffe0);
	const __m128i x80 = _mm_set1_epi16(0x80);
	for (; f - p >= 16; p += 16, k += 8) {
		__m128i v = _mm_loadu_si128((const __m128i *)(const void *)p);
		if (be)
			v = _mm_or_si128(
			    _mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
		__m128i bas = _mm_cmpeq_epi16(
		    _mm_and_si128(v, haut), _mm_setzero_si128());
		__m128i ctl = _mm_cmpeq_epi16(_mm_and_si128(v, c1), x80);
		unsigned m =
		    (unsigned)_mm_movemask_epi8(_mm_andnot_si128(ctl, bas));
		_mm_storel_epi64(
		    (__m128i *)(void *)(d + k), _mm_packus_epi16(v, v));
		if (m != 0xffff)
			return k + (size_t)std::countr_zero(~m) / 2;
	}
#endif
	const int lo = be ? 1 : 0; /* the low byte's place */
	for (; f - p >= 2; p += 2, k++) {
		if (p[1 - lo] != 0 || (p[lo] & 0xe0) == 0x80)
			break;
		d[k] = (char)p[lo];
	}
	return k;
}

/*
 * Decode the UTF-16 bytes brut[0, n) to d, and say how many bytes that
 * made.  An unpaired surrogate reads as U+FFFD.  A unit or a pair cut at
 * n waits in brut, with the bytes past n, unless there are no more
 * (fini): then a last odd byte reads as U+FFFD too.
 */
static size_t
seize(char *d, size_t n, bool fini)
{
	const bool be = codage == UTF16BE;
	const int hi = be ? 0 : 1; /* the high byte's place */
	const unsigned char *p = brut, *f = brut + n;
	char *d0 = d;

	while (f - p >= 2) {
		size_t k = latin16(d, p, f, be);
		d += k;
		p += 2 * k;
		if (f - p < 2)
			break;
		char32_t u = (char32_t)(p[hi] << 8 | p[1 - hi]);
		if (u >= 0xd800 && u <= 0xdbff) {
			if (f - p < 4 && !fini)
				break;
			char32_t v =
			    f - p < 4 ? 0
			              : (char32_t)(p[2 + hi] << 8 | p[3 - hi]);
			if (v >= 0xdc00 && v <= 0xdfff) {
				u = 0x10000 + ((u - 0xd800) << 10) +
				    (v - 0xdc00);
				p += 2;
			} else
				u = 0xfffd;
		} else if (u >= 0xdc00 && u <= 0xdfff)
			u = 0xfffd;
		d += interne(d, u);
		p += 2;
	}
	if (fini && p < f) {
		d += interne(d, 0xfffd);
		p = f;
	}
	reste -= (size_t)(p - brut);
	std::memmove(brut, p, reste);
	return (size_t)(d - d0);
}

/*
 * Read the next text of the source to p, where there is room for place
 * bytes (at least BLOC); say how many bytes, 0 at the end of the text.  A
 * decoded source goes through brut, a quarter of the room at a time, as
 * one byte may become an escape of four.
 */
static size_t
remplir(char *p, size_t place)
{
	size_t n, m = place / LECHAPPE < BLOC ? place / LECHAPPE : BLOC;

	if (codage == AUCUN && ((n = debutsource(p)) > 0 || codage == INCONNU))
		return n; /* text, or nothing at all */
	if (codage == INCONNU || codage == CP1252)
		return tari ? 0 : lire(p, BLOC);
	for (;;) {
		if (!tari && reste < m) {
			size_t r = lire((char *)brut + reste, m - reste);
			reste += r;
			tari = r == 0;
		}
		size_t k = reste < m ? reste : m;
		bool fini = tari && k == reste;
		n = codage == UTF8 ? huit(p, k, fini) : seize(p, k, fini);
		if (n > 0 || (tari && reste == 0))
			return n;
	}
}

/*
 * Where the first byte above 127 stands among the n bytes at p, eight
 * bytes a step; NULLE when they are all ASCII.
 */
static size_t
ascii(const char *p, size_t n)
{
	size_t i = 0;

	for (std::uint64_t w; i + 8 <= n; i += 8) {
		std::memcpy(&w, p + i, 8);
		if ((w & 0x8080808080808080u) != 0)
			break;
	}
	for (; i < n; i++)
		if ((unsigned char)p[i] >= 0x80)
			return i;
	return NULLE;
}

/*
 * The encoding of a source without byte-order mark, from its first byte
 * above 127 at p: UTF-8 when every UTF-8 sequence that begins in the
 * FENETRE bytes from p is well-formed (its last bytes may lie past them,
 * up to fin, the end of the text), windows-1252 otherwise.
 */
static Codage
deviner(const char *p, const char *fin)
{
	const auto *u = (const unsigned char *)p;
	const auto *f = (const unsigned char *)fin;
	const unsigned char *limite =
	    (size_t)(f - u) > FENETRE ? u + FENETRE : f;

	for (int n; u < limite; u += n)
		if (utf8(u, f, &n) < 0)
			return CP1252;
	return UTF8;
}

/*
 * Read the source in blocks and hand each line to traiter.  The unhandled
 * bytes are tampon[debut, fin).  Line ends are found 64 bytes at a time:
 * lfs holds one bit for each LF of tampon[base, base + 64) not yet
 * handled.  The next zero byte stands at nul (fin when there is none).
 * A line that does not fit is moved to the front of the buffer, which
 * doubles when the line fills it.
 *
 * Until the encoding of a source without byte-order mark is known, only
 * the lines before its first byte above 127, at haut, are handled: they
 * are ASCII, the same in either encoding.  Once FENETRE bytes past haut
 * and the three that may end a sequence there were read, however the
 * reads were cut, or the text ended, the encoding is known; a UTF-8
 * source's bytes from haut on then go back to brut to be decoded.
 */
static void
convertir()
{
	size_t debut = 0, fin = 0, base = 0, nul = 0, haut = NULLE;
	std::uint64_t lfs = 0;
	bool epuise = false;

	codage = AUCUN;
	reste = echappes = 0;
	tari = false;
#ifdef KORVUM_SSSE3
	ssse3 = __builtin_cpu_supports("ssse3");
#endif
	taille = 2 * BLOC;
	if ((tampon = (char *)std::malloc(taille + MARGE)) == nullptr)
		erreur(LIRE);
	for (;;) {
		while (lfs == 0 && base + 64 < fin) {
			base += 64;
			lfs = finsdeligne(tampon + base);
		}
		bool lf = lfs != 0;
		size_t e = lf ? base + (size_t)std::countr_zero(lfs) : fin;
		if ((lf || (epuise && debut < fin)) &&
		    (codage != INCONNU || e < haut)) {
			size_t t = e;
			lfs &= lfs - 1;
			if (lf && t > debut && tampon[t - 1] == '\r')
				t--;
			if (nul < t)
				traiter(tampon + debut, tampon + nul, false);
			else
				traiter(tampon + debut, tampon + t, lf);
			debut = lf ? e + 1 : fin;
			if (nul < debut) {
				char *z = (char *)std::memchr(
				    tampon + debut, 0, fin - debut);
				nul = z != nullptr ? (size_t)(z - tampon) : fin;
			}
			continue;
		}
		if (epuise)
			break;

		if (debut > 0) {
			std::memmove(tampon, tampon + debut, fin - debut);
			fin -= debut;
			nul -= debut;
			if (haut != NULLE)
				haut -= debut;
			base = base > debut ? base - debut : 0;
			debut = 0;
		}
		if (taille - fin < BLOC) {
			size_t t = 2 * taille;
			char *n = (char *)std::realloc(tampon, t + MARGE);
			if (n == nullptr)
				erreur(LIRE);
			tampon = n;
			taille = t;
		}
		size_t n = remplir(tampon + fin, taille - fin);
		if (n == 0)
			epuise = true;
		char *cz = (char *)std::memchr(tampon + fin, 0x1a, n);
		if (cz != nullptr) {
			n = (size_t)(cz - (tampon + fin));
			epuise = tari = true;
		}
		if (nul == fin) {
			char *z = (char *)std::memchr(tampon + fin, 0, n);
			nul = z != nullptr ? (size_t)(z - tampon) : fin + n;
		}
		if (codage == INCONNU && haut == NULLE &&
		    (haut = ascii(tampon + fin, n)) != NULLE)
			haut += fin;
		fin += n;
		if (codage == INCONNU &&
		    (epuise || (haut != NULLE && fin - haut >= FENETRE + 3))) {
			codage = haut == NULLE
			             ? CP1252
			             : deviner(tampon + haut, tampon + fin);
			if (codage == UTF8) {
				reste = fin - haut;
				std::memcpy(brut, tampon + haut, reste);
				fin = haut;
				nul = nul < fin ? nul : fin;
				base = 0; /* debut is 0 here */
				epuise = false;
			}
		}
		std::memset(tampon + fin, 0, MARGE);
		lfs = finsdeligne(tampon + base);
	}
	std::free(tampon);
	tampon = nullptr;
}

/*
 * What differs between Windows and POSIX: the arguments, opening,
 * reading, writing and closing the two files, telling whether two names
 * are one file, writing a message, and preparing the standard streams.
 */
#ifdef _WIN32

/* The C runtime's own Unicode argument vector, split as argv is. */
extern "C" int __wgetmainargs(int *, wchar_t ***, wchar_t ***, int, int *);

/* Write c as UTF-8 at d; returns its length. */
static size_t
enutf8(char *d, char32_t c)
{
	if (c < 0x80) {
		d[0] = (char)c;
		return 1;
	}
	if (c < 0x800) {
		d[0] = (char)(0xc0 | c >> 6);
		d[1] = (char)(0x80 | (c & 0x3f));
		return 2;
	}
	if (c < 0x10000) {
		d[0] = (char)(0xe0 | c >> 12);
		d[1] = (char)(0x80 | (c >> 6 & 0x3f));
		d[2] = (char)(0x80 | (c & 0x3f));
		return 3;
	}
	d[0] = (char)(0xf0 | c >> 18);
	d[1] = (char)(0x80 | (c >> 12 & 0x3f));
	d[2] = (char)(0x80 | (c >> 6 & 0x3f));
	d[3] = (char)(0x80 | (c & 0x3f));
	return 4;
}

/*
 * A Windows name as UTF-8; a lone surrogate, which Windows names may
 * hold, is encoded like any other character, so that the name comes back
 * whole.
 */
static char *
etroit(const wchar_t *w)
{
	size_t n = std::wcslen(w);
	char *a = (char *)std::malloc(3 * n + 1), *d = a;

	if (a == nullptr)
		std::exit(1);
	for (size_t i = 0; i < n; i++) {
		char32_t c = w[i];
		if (c >= 0xd800 && c <= 0xdbff && w[i + 1] >= 0xdc00 &&
		    w[i + 1] <= 0xdfff)
			c = 0x10000 + ((c - 0xd800) << 10) + (w[++i] - 0xdc00);
		d += enutf8(d, c);
	}
	*d = '\0';
	return a;
}

/* The name back in UTF-16, for the wide calls of Windows. */
static wchar_t *
large(const char *a)
{
	size_t n = std::strlen(a);
	auto *w = (wchar_t *)std::malloc((n + 1) * sizeof(wchar_t));
	auto *p = (const unsigned char *)a;
	wchar_t *d = w;

	if (w == nullptr)
		std::exit(1);
	while (*p != 0) {
		char32_t c = *p;
		int k = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4, i = 1;
		c &= k == 1 ? 0x7f : 0x7f >> k;
		for (; i < k && (p[i] & 0xc0) == 0x80; i++)
			c = c << 6 | (p[i] & 0x3f);
		p += i;
		if (c >= 0x10000) {
			*d++ = (wchar_t)(0xd800 + ((c - 0x10000) >> 10));
			c = 0xdc00 + ((c - 0x10000) & 0x3ff);
		}
		*d++ = (wchar_t)c;
	}
	*d = L'\0';
	return w;
}

/*
 * Take the arguments in Unicode, as Windows holds them, and hand them
 * over in UTF-8 like a POSIX system; standard error gets each message's
 * bytes as they are, LF alone.
 */
static void
preparer(int *argc, char ***argv)
{
	wchar_t **w, **env;
	int mode = 0;

	_setmode(2, _O_BINARY);
	if (__wgetmainargs(argc, &w, &env, 0, &mode) < 0)
		std::exit(1);
	auto **a = (char **)std::malloc(((size_t)*argc + 1) * sizeof(char *));
	if (a == nullptr)
		std::exit(1);
	for (int i = 0; i < *argc; i++)
		a[i] = etroit(w[i]);
	a[*argc] = nullptr;
	*argv = a;
}

/* A file opened by its Unicode name, as a binary descriptor. */
static int
ouvrir(const char *nom, DWORD acces, DWORD creation, int mode)
{
	wchar_t *w = large(nom);
	HANDLE h = CreateFileW(w, acces, FILE_SHARE_READ | FILE_SHARE_WRITE,
	    nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
	std::free(w);
	if (h == INVALID_HANDLE_VALUE)
		return -1;
	int fd = _open_osfhandle((intptr_t)h, mode | _O_BINARY);
	if (fd < 0)
		CloseHandle(h);
	return fd;
}

/* Open the source; a folder is not a source (Windows will not open it). */
static int
ouvrirsource(const char *nom)
{
	return ouvrir(nom, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
}

/*
 * Whether the name designates the open source file itself, by the file's
 * identity: any spelling, case or hard link of it.
 */
static bool
memefichier(const char *nom)
{
	BY_HANDLE_FILE_INFORMATION a, b;
	HANDLE h = (HANDLE)_get_osfhandle(entree);

	if (GetFileType(h) != FILE_TYPE_DISK ||
	    !GetFileInformationByHandle(h, &a))
		return false;
	wchar_t *w = large(nom);
	HANDLE t = CreateFileW(w, 0,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	std::free(w);
	if (t == INVALID_HANDLE_VALUE)
		return false;
	bool meme = GetFileInformationByHandle(t, &b) &&
	            a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
	            a.nFileIndexHigh == b.nFileIndexHigh &&
	            a.nFileIndexLow == b.nFileIndexLow;
	CloseHandle(t);
	return meme;
}

/* Create or empty the target. */
static int
ouvrirbut(const char *nom)
{
	int fd = ouvrir(nom, GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY);

	if (fd >= 0)
		sortiefichier =
		    GetFileType((HANDLE)_get_osfhandle(fd)) == FILE_TYPE_DISK;
	return fd;
}

/* Read up to n bytes of the source; 0 at its end. */
static size_t
lire(char *p, size_t n)
{
	int r = _read(entree, p, (unsigned)n);
	if (r < 0)
		erreur(LIRE);
	return (size_t)r;
}

/* Write all n bytes to the target; false when it will not take them. */
static bool
ecrire(const char *p, size_t n)
{
	while (n > 0) {
		int r =
		    _write(sortie, p, n > (1u << 30) ? 1u << 30 : (unsigned)n);
		if (r <= 0)
			return false;
		p += r;
		n -= (size_t)r;
	}
	return true;
}

/* Close a file; false when the close reports an error. */
static bool
fermer(int fd)
{
	return _close(fd) == 0;
}

/* Empty the target, so that no half document is left behind. */
static void
tronquer()
{
	(void)_chsize(sortie, 0);
}

/*
 * Write one message in a single write; nothing can be done if it fails.
 * A console takes it in Unicode, so that it reads right in any code page;
 * a file or a pipe gets the bytes of code page 850, the French console's.
 * Whether standard error is a console is asked once.
 */
static void
message(const char *m, size_t n)
{
	static int console = -1;
	HANDLE h = (HANDLE)_get_osfhandle(canal);
	wchar_t w[256];
	char o[256];
	DWORD mode;
	int k = MultiByteToWideChar(CP_UTF8, 0, m, (int)n, w, 256);

	if (console < 0)
		console = GetConsoleMode(h, &mode) ? 1 : 0;
	if (console == 1) {
		(void)WriteConsoleW(h, w, (DWORD)k, &mode, nullptr);
		return;
	}
	k = WideCharToMultiByte(850, 0, w, k, o, sizeof o, nullptr, nullptr);
	(void)_write(canal, o, (unsigned)k);
}

#else /* POSIX */

/*
 * Make sure the files cannot land on a closed standard stream, where
 * messages would be written into them; and let a file size limit fail
 * a write instead of killing the process.  The arguments are taken as
 * they are.
 */
static void
preparer(int *, char ***)
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
		    open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
			std::exit(1);
	(void)signal(SIGXFSZ, SIG_IGN);
}

/* Open the source; a folder is not a source. */
static int
ouvrirsource(const char *nom)
{
	struct stat st;
	int fd = open(nom, O_RDONLY);

	if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
		close(fd);
		fd = -1;
	}
	return fd;
}

/*
 * Whether the name designates the open source file itself, by device and
 * inode: any spelling, hard link or symbolic link of it.  Only a regular
 * source can be lost that way; a terminal or a device cannot.
 */
static bool
memefichier(const char *nom)
{
	struct stat a, b;

	return fstat(entree, &a) == 0 && S_ISREG(a.st_mode) &&
	       stat(nom, &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}

/* Create or empty the target. */
static int
ouvrirbut(const char *nom)
{
	struct stat st;
	int fd = open(nom, O_WRONLY | O_CREAT | O_TRUNC, 0666);

	if (fd >= 0)
		sortiefichier = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	return fd;
}

/* Read up to n bytes of the source; 0 at its end. */
static size_t
lire(char *p, size_t n)
{
	ssize_t r;

	while ((r = read(entree, p, n)) < 0 && errno == EINTR)
		;
	if (r < 0)
		erreur(LIRE);
	return (size_t)r;
}

/* Write all n bytes to the target; false when it will not take them. */
static bool
ecrire(const char *p, size_t n)
{
	while (n > 0) {
		ssize_t r = write(sortie, p, n);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return false;
		p += r;
		n -= (size_t)r;
	}
	return true;
}

/* Close a file; false when the close reports an error. */
static bool
fermer(int fd)
{
	return close(fd) == 0;
}

/* Empty the target, so that no half document is left behind. */
static void
tronquer()
{
	(void)!ftruncate(sortie, 0);
}

/* Write one message in a single write; nothing can be done if it fails. */
static void
message(const char *m, size_t n)
{
	(void)!write(canal, m, n);
}

#endif
