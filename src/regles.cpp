/*
 * The rules of a line that regler (lignes.h) calls out of line: the
 * search for the separator, and the cells a spreadsheet quoted, on one
 * line or over several (see rangees.cpp).
 */

#include "lignes.h"

#include <cstring>

static int octetsep[2]; /* separ's byte (or -1) as is, and decoded */

/* A quoted cell: its closing quote or nullptr, and whether it holds "". */
struct Cellule {
	const char *ferme;
	bool doublee;
};

static Cellule cellule(const char *, const char *);
static bool tient(Cellule, const char *);
static bool saut(const char *, const char *);
static const char *decouvrir(const char *, const char *);

/* Take the separator of the run: its byte, as is and decoded. */
void
preparersepar()
{
	octetsep[0] = octet1252(separ);
	octetsep[1] = octetinterne(separ);
}

/*
 * The first separator in the line [s, fin), and its length, or nullptr;
 * the zero separator stands at the line's end.  Once escapes are held, a
 * separator above 127 is looked for character by character, so that no
 * byte of an escape is taken for it; before, a byte scan finds it.
 */
Separateur
cherchesepar(const char *s, const char *fin)
{
	bool decode = decodee();
	int b = octetsep[decode];

	if (separ == 0)
		return {fin, 0};
	if (!decode || separ < 0x80 || echappes == 0) {
		const char *p = b < 0 ? nullptr : cherche(s, fin, b);
		return {p, p != nullptr ? (size_t)1 : 0};
	}
	for (const char *p = s; p < fin; p++) {
		if ((unsigned char)*p != ECH) {
			if ((unsigned char)*p == b)
				return {p, 1};
			continue;
		}
		if (caractereech(p) == separ)
			return {p, LECH};
		p += LECH - 1;
	}
	return {nullptr, 0};
}

/*
 * Read the line l, which regler split, for the cells a spreadsheet
 * quoted: a field that stands wholly between quotes, from the line's
 * text or from just after the separator to the separator or the line's
 * end, every quote inside doubled.  Such a field is the cell it quotes
 * when it holds the separator, a doubled quote or a line break (a row of
 * several lines), or when every field of the line that is not empty is
 * quoted so (a spreadsheet's "quote all text cells"): its quotes go, each
 * "" is ", in place, and a separator inside does not split the line.  Any other
 * quote stays as typed. bout is where the line ends before its trailing blanks.
 */
void
citer(Ligne *l, const char *bout)
{
	const char *lim = sepavantblancs() ? bout : l->f;
	Cellule q = {nullptr, false}, r = {nullptr, false};
	bool qcite = false, rcite = false;

	if (separ == 0 || separ == '"')
		return;
	if (*l->s == '"' && (q = cellule(l->s, l->f)).ferme != nullptr) {
		const char *apres = q.ferme + 1;
		Separateur c = cherchesepar(apres, lim);
		if ((qcite = c.p == apres ||
		             (apres == l->f && tient(q, l->s)))) {
			l->sep = c.p == apres ? c.p : l->f;
			l->r = l->sep + c.n;
			l->f = l->r > l->f ? l->r : l->f;
		}
	}
	if (l->sep != nullptr && l->r < l->f && *l->r == '"')
		rcite = (r = cellule(l->r, l->f)).ferme == l->f - 1;
	/* every field that is not empty is quoted */
	bool tous = (qcite || l->sep == l->s) && (rcite || l->r == l->f);
	if (qcite && (tous || tient(q, l->s)))
		l->sep = decouvrir(l->s, q.ferme);
	if (rcite && (tous || tient(r, l->r)))
		l->f = decouvrir(l->r, r.ferme);
}

/* The cell that begins at the quote at p, in [p, fin). */
static Cellule
cellule(const char *p, const char *fin)
{
	bool doublee = false;

	for (p++; p < fin; p++) {
		if (*p != '"')
			continue;
		if (p + 1 == fin || p[1] != '"')
			return {p, doublee};
		doublee = true;
		p++;
	}
	return {nullptr, doublee};
}

/* Whether the cell c, quoted from p, holds "", the separator or a break. */
static bool
tient(Cellule c, const char *p)
{
	return c.doublee || saut(p + 1, c.ferme) ||
	       cherchesepar(p + 1, c.ferme).p != nullptr;
}

/* Whether [s, fin) holds a line break, the escape of LF of a row. */
static bool
saut(const char *s, const char *fin)
{
	if (!decodee())
		return false;
	for (const char *p = s; p < fin; p++)
		if ((unsigned char)*p == ECH && caractereech(p) == '\n')
			return true;
	return false;
}

/*
 * Where the line [s, fin), neither blank nor markup, leaves a cell that a
 * spreadsheet quoted open: the quote that begins its Q or its R (split as
 * citer splits it) when no quote closes it on the line; else nullptr.
 * Such a cell holds a line break and goes on at the next line.
 */
const char *
celluleouverte(const char *s, const char *fin)
{
	Separateur c = {nullptr, 0};

	if (separ == 0 || separ == '"' ||
	    std::memchr(s, '"', (size_t)(fin - s)) == nullptr)
		return nullptr;
	s = debutchaine(s, fin);
	if (s == fin || *s == '<')
		return nullptr;
	if (*s == '"') {
		Cellule q = cellule(s, fin);
		if (q.ferme == nullptr)
			return s;
		if (debutchaine(q.ferme + 1, fin) == fin)
			return nullptr; /* a cell alone, or no separator */
		if ((c = cherchesepar(q.ferme + 1, fin)).p != q.ferme + 1)
			c.p = nullptr;
	}
	if (c.p == nullptr && (c = cherchesepar(s, fin)).p == nullptr)
		return nullptr;
	const char *r = c.p + c.n;
	return r < fin && *r == '"' && cellule(r, fin).ferme == nullptr
	           ? r
	           : nullptr;
}

/*
 * Whether the cell quoted from q closes within [q, fin), the lines of a
 * row: OUVERTE when it does not; FERMEE when its closing quote is followed
 * by the separator, or by blanks alone; FAUSSE otherwise: it is no cell.
 */
Fermeture
fermeture(const char *q, const char *fin)
{
	const char *f = cellule(q, fin).ferme;

	if (f == nullptr)
		return OUVERTE;
	f++;
	return debutchaine(f, fin) == fin || cherchesepar(f, fin).p == f
	           ? FERMEE
	           : FAUSSE;
}

/*
 * Write the cell quoted from debut to ferme in place, its quotes gone and
 * "" as "; return where it ends.  The line is the loop's own.
 */
static const char *
decouvrir(const char *debut, const char *ferme)
{
	char *d = const_cast<char *>(debut);

	for (const char *p = debut + 1; p < ferme; p++) {
		*d++ = *p;
		p += *p == '"';
	}
	return d;
}
