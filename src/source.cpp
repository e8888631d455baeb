/*
 * The source: its mark, UTF-16 with or without one (decoded as read), and
 * the text each line hands over.  Another source is read as it is, each
 * line with a byte above 127 in its own encoding, windows-1252 or UTF-8;
 * a line that does not tell (see classer) takes that of the nearest line
 * before it that does, or at the start, of the first.
 */

#include "extern.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

/* What is known of the source and how it is decoded. */
static struct {
	Codage codage;    /* the source's */
	Codage pardefaut; /* what a line that does not tell is read in */
	bool interne;     /* the line handed over is held decoded */
	unsigned char brut[BLOC + FENETRE + MARGE]; /* UTF-16 to decode */
	size_t reste;                               /* how many bytes */
	bool tari;      /* nothing more to read: the end, or 0x1A, was met */
	char *decodee8; /* a UTF-8 line, decoded */
	size_t placedecodee8;
	char *rechange; /* the line loop's other buffer (see decoderlignes) */
	size_t placerechange;
	const char *tenuede, *tenuea; /* lines decoded as read */
} src;

static size_t lu(char *, size_t);
static size_t debutsource(char *, size_t);
static Codage utf16(const unsigned char *, size_t);
static bool ditutf8(const char *, const char *);

/* Start a source: nothing read, nothing decoded, its encoding unknown. */
void
ouvrirtexte()
{
	src.codage = src.pardefaut = AUCUN;
	src.reste = echappes = 0;
	src.tari = src.interne = false;
	src.tenuede = src.tenuea = nullptr;
}

/* End a source: the buffers of its UTF-8 lines go. */
void
fermertexte()
{
	std::free(src.decodee8);
	std::free(src.rechange);
	src.decodee8 = src.rechange = nullptr;
	src.placedecodee8 = src.placerechange = 0;
}

/* Read up to n bytes of the source at p; a failure ends the run. */
static size_t
lu(char *p, size_t n)
{
	size_t r;

	if (!lire(p, n, &r))
		erreur(LIRE);
	return r;
}

/*
 * Read the source's first bytes (128, or to the end, at most a block and
 * place) to p and return how many are text: a UTF-8 mark is dropped; after
 * a UTF-16 mark, or a start plainly UTF-16, the bytes go to src.brut.
 */
static size_t
debutsource(char *p, size_t place)
{
	size_t n = 0, r = 1, m = 0;
	size_t bloc = std::min(place, std::max<size_t>(BLOC, 128));

	while (n < 128 && r > 0)
		n += r = lu(p + n, bloc - n); /* no more than brut holds */
	src.tari = r == 0;
	const auto *u = (const unsigned char *)p;
	unsigned deux = n >= 2 ? (unsigned)(u[0] << 8 | u[1]) : 0;
	src.codage = HUIT;
	src.pardefaut = AUCUN;
	if (marqueutf8(p, n)) {
		src.pardefaut = UTF8;
		std::memmove(p, p + 3, n - 3);
		return n - 3;
	}
	if (deux == 0xfffe || deux == 0xfeff) {
		src.codage = deux == 0xfffe ? UTF16LE : UTF16BE;
		m = 2;
	} else if ((src.codage = utf16(u, n)) == HUIT)
		return n;
	src.reste = n - m;
	std::memcpy(src.brut, p + m, src.reste);
	return 0;
}

/*
 * UTF16LE or UTF16BE when the n bytes at p plainly begin UTF-16, else
 * HUIT: in the first 128, half the units or more hold a zero on one side
 * and four times fewer on the other (where Ā or 一 put one).
 */
static Codage
utf16(const unsigned char *p, size_t n)
{
	size_t unites = (n < 128 ? n : 128) / 2, z[2] = {0, 0};

	for (size_t i = 0; i < 2 * unites; i++)
		z[i % 2] += p[i] == 0 ? 1 : 0;
	auto [faible, fort] = std::minmax(z[0], z[1]);
	if (unites < 2 || 2 * fort < unites || 4 * faible >= fort)
		return HUIT;
	return z[1] > z[0] ? UTF16LE : UTF16BE;
}

/*
 * Read the next text to p, room for place bytes (at least BLOC and 128);
 * return how many, 0 at the end.  UTF-16 is decoded a quarter of the room
 * at a time, as a unit may become an escape of LECH bytes.
 */
size_t
remplir(char *p, size_t place)
{
	size_t n, m = place / LECH < BLOC ? place / LECH : BLOC;

	if (src.codage == AUCUN &&
	    ((n = debutsource(p, place)) > 0 || src.codage == HUIT))
		return n; /* text, or nothing at all */
	if (src.codage == HUIT)
		return src.tari ? 0 : lu(p, BLOC);
	for (;;) {
		if (!src.tari && src.reste < m) {
			size_t r =
			    lu((char *)src.brut + src.reste, m - src.reste);
			src.reste += r;
			src.tari = r == 0;
		}
		size_t k = src.reste < m ? src.reste : m, pris;
		bool fini = src.tari && k == src.reste;
		n = decodeutf16(
		    p, src.brut, k, src.codage == UTF16BE, fini, &pris);
		src.reste -= pris;
		std::memmove(src.brut, src.brut + pris, src.reste);
		if (n > 0 || (src.tari && src.reste == 0))
			return n;
	}
}

/* The text ends here: the line loop met a 0x1A. */
void
tarir()
{
	src.tari = true;
}

/* Whether the source is read as it is, its lines telling their encoding. */
bool
huitbits()
{
	return src.codage == HUIT;
}

/* Whether the encoding of the lines that do not tell is known. */
bool
avantconnu()
{
	return src.pardefaut != AUCUN;
}

/* Whether the line being handled is held decoded, with escapes. */
bool
decodee()
{
	return src.interne;
}

/* Take the text handed over as held decoded, or not; returns what was. */
bool
tenirdecodee(bool oui)
{
	return std::exchange(src.interne, oui);
}

/*
 * At the start of a source without mark, decide what the lines that do
 * not tell are read in: that of the first line from p (the line of the
 * first byte above 127, haut) beginning within FENETRE bytes of haut that
 * tells, else UTF-8.  Only bytes before haut + FENETRE + 3 are looked at,
 * so that how reads were cut does not matter.  Lines end at LF, or CR when
 * cr; [p, fin) was read, fini when all.  False while it cannot tell yet.
 */
bool
deciderdebut(
    const char *p, const char *haut, const char *fin, bool fini, bool cr)
{
	const char *limite = haut + FENETRE, *vu = limite + 3;
	const char *bord = fin < vu ? fin : vu;

	while (p < bord && p < limite) {
		const char *e = p;
		while (e < bord && *e != '\n' && (!cr || *e != '\r'))
			e++;
		if (marqueutf8(p, (size_t)(e - p)))
			p += 3;
		bool entiere = e < bord || (fini && e == fin);
		const char *z =
		    (const char *)std::memchr(p, 0, (size_t)(e - p));
		Dit d = classer(
		    p, p, z != nullptr ? z : e, entiere || z != nullptr, false);
		if (d == DIT1252 || (d == DITUTF8 && (entiere || e == vu))) {
			src.pardefaut = d == DIT1252 ? CP1252 : UTF8;
			return true;
		}
		if (!entiere && e == fin)
			return false; /* the rest is still to come */
		p = e + 1;
	}
	if (p < limite && !fini && fin < vu)
		return false;
	src.pardefaut = UTF8;
	return true;
}

/*
 * Whether the first of the LF-ended lines [p, fin), zero-free, whose text
 * (no mark, no CR before its LF) holds a byte above 127 tells UTF-8.
 */
static bool
ditutf8(const char *p, const char *fin)
{
	const char *debutligne = p;

	while (p < fin) {
		size_t k = premierhaut(p, (size_t)(fin - p));
		if (k == NULLE)
			return false;
		const char *h = p + k, *s = h, *e;
		while (s > debutligne && s[-1] != '\n')
			s--;
		if ((e = cherche(h, fin, '\n')) == nullptr)
			return false;
		if (marqueutf8(s, (size_t)(e - s)))
			s += 3;
		if (h < s) { /* the mark's: the text may be ASCII */
			if ((k = premierhaut(s, (size_t)(e - s))) == NULLE) {
				p = e + 1;
				continue;
			}
			h = s + k;
		}
		while (e > h && e[-1] == '\r')
			e--;
		return classer(s, h, e, true, true) == DITUTF8;
	}
	return false;
}

/*
 * Decode as read the whole lines among the n bytes of an 8-bit source just
 * read to (*t)[fin], LF-ended, once src.pardefaut is known, when the first with
 * a byte above 127 tells UTF-8, up to a byte of no sequence: those lines are
 * then handed over decoded, as UTF-16's are.  The run is decoded in a second
 * buffer of taille bytes; the shorter part is copied, the buffers trading
 * places when it is what surrounds the run.  Returns how many bytes are at
 * (*t)[fin]; the run holds until the next read (see decodeealecture).
 */
size_t
decoderlignes(char **t, size_t fin, size_t n, size_t taille)
{
	char *p = *t + fin;
	const char *un, *der = p + n;
	size_t lus;

	src.tenuede = src.tenuea = nullptr;
	if (src.codage != HUIT || src.pardefaut == AUCUN ||
	    (un = cherche(p, p + n, '\n')) == nullptr)
		return n;
	while (der > un && der[-1] != '\n')
		der--;
	size_t a0 = (size_t)(un + 1 - p), a1 = (size_t)(der - p);
	/* a character may take twice its bytes */
	if (a1 <= a0 || fin + n + (a1 - a0) > taille ||
	    !ditutf8(p + a0, p + a1) ||
	    cherchebloc(p + a0, p + a1, 0) != nullptr)
		return n;
	char *b = reserver(&src.rechange, &src.placerechange, taille),
	     *run = b + fin + a0;
	size_t k =
	    decodeutf8(run, (const unsigned char *)p + a0, a1 - a0, &lus);
	if (lus < a1 - a0) { /* the run ends before the line that strays */
		while (lus > 0 && p[a0 + lus - 1] != '\n')
			lus--;
		while (k > 0 && run[k - 1] != '\n')
			k--;
		a1 = a0 + lus;
	}
	if (k == 0)
		return n;
	if (k < fin + a0 + (n - a1)) { /* the run is the shorter to copy */
		std::memmove(p + a0 + k, p + a1, n - a1);
		std::memcpy(p + a0, run, k);
		run = p + a0;
	} else {
		std::memcpy(b, *t, fin + a0);
		std::memcpy(run + k, p + a1, n - a1);
		src.rechange = *t;
		*t = b;
	}
	src.tenuede = run;
	src.tenuea = run + k;
	emprunter(DECODEES);
	return a0 + k + (n - a1);
}

/* Whether the line at s is of the run that decoderlignes decoded. */
bool
decodeealecture(const char *s)
{
	return s < src.tenuea && s >= src.tenuede;
}

/*
 * Whether lisibletelle tells the lines in [de, a) by their bytes: 8-bit, none
 * held decoded; a first high byte before a low one then tells windows-1252.
 */
bool
parleursoctets(const char *de, const char *a)
{
	return src.codage == HUIT && (a <= src.tenuede || de >= src.tenuea);
}

/* A line told windows-1252, as lisibletelle notes it. */
void
dit1252()
{
	src.pardefaut = CP1252;
}

/*
 * Whether the line at s, first byte above 127 at h, is handed over as it
 * stands, noting what it tells: held decoded already, or windows-1252 by
 * that byte, as classer would first tell.
 */
bool
lisibletelle(const char *s, const char *h)
{
	const auto *u = (const unsigned char *)h;

	if (src.codage != HUIT)
		return true;
	if (decodeealecture(s)) { /* UTF-8, as the run's first accent told */
		src.interne = true;
		src.pardefaut = UTF8;
		return true;
	}
	if (u[0] < 0xc2 || u[0] > 0xf4 || (u[1] & 0xc0) != 0x80) {
		src.pardefaut = CP1252;
		return true;
	}
	return false;
}

/*
 * The text of the line [s, fin), its end in *f: the line itself when held
 * decoded, ASCII (ascii) or windows-1252; else its UTF-8 decoded, in a
 * buffer of its own with MARGE zero bytes after.  Unless ascii, h is its
 * first byte above 127.
 */
const char *
texteligne(
    const char *s, const char *h, const char *fin, const char **f, bool ascii)
{
	*f = fin;
	src.interne = src.codage != HUIT;
	if (ascii || lisibletelle(s, h))
		return s;
	size_t n = (size_t)(fin - s), lus = n, k = 0;
	/* after a UTF-8 line, a byte of no sequence tells windows-1252 */
	Dit d = src.pardefaut == UTF8 ? DOUTE : classer(s, h, fin, true, true);
	src.interne = d == DITUTF8 || (d == DOUTE && src.pardefaut == UTF8);
	if (src.interne)
		k = decodeutf8(
		    reserver(&src.decodee8, &src.placedecodee8, 2 * n),
		    (const unsigned char *)s, n, &lus);
	bool egare = lus < n;
	if (d == DIT1252 || egare)
		src.pardefaut = CP1252;
	else if (d == DITUTF8)
		src.pardefaut = UTF8;
	if (!src.interne || egare) {
		src.interne = false;
		return s;
	}
	std::memset(src.decodee8 + k, 0, MARGE);
	*f = src.decodee8 + k;
	return src.decodee8;
}
