/*
 * Rows that a spreadsheet wrote over several lines: a cell it quoted that
 * holds a line break goes on at the next line, to its closing quote.  A
 * line that leaves such a cell open (celluleouverte) is held, with the
 * lines after it, until the cell closes followed by the separator or the
 * row's end (fermeture): then the lines are one row, each line break
 * held as the escape of LF, which the record writes as a reference.  A
 * cell still open after RANGEE lines, or closed otherwise, is none: its
 * first line goes as typed, and the lines after it are looked at again.
 * A row's messages give its first line's number.
 */

#include "lignes.h"

#include <cstdlib>
#include <cstring>

/* The lines held, decoded, in texte: each, then the escape of LF. */
static struct {
	char *texte;
	size_t place, n;
	struct {
		size_t debut, fin;
		bool lf;
	} l[RANGEE];
} tenues;

static void tenir(const char *, const char *, bool);
static void examiner(bool);
static size_t rangee();
static void ecrirerangee(size_t);

/*
 * Hand a line's text [s, f) on (sep and signe as regler and traiter take
 * them), unless it leaves a quoted cell open or lines are held before it.
 */
void
accueillir(
    const char *s, const char *f, bool lf, const char *sep, const char *signe)
{
	if (tenues.n == 0 && (signe >= f || celluleouverte(s, f) == nullptr)) {
		traiter(regler(s, f, sep, signe < f), lf, signe);
		return;
	}
	tenir(s, f, lf);
	examiner(false);
}

/* Whether lines are held, which the runs of plain lines must wait for. */
bool
rangeeouverte()
{
	return tenues.n > 0;
}

/* At the source's end: what the lines held make, each as typed but rows. */
void
finirrangees()
{
	examiner(true);
	std::free(tenues.texte);
	tenues = {};
}

/*
 * Hold the line [s, f) after the others, decoded: windows-1252's unassigned
 * bytes (ECH among them) become escapes of the controls Windows reads.
 */
static void
tenir(const char *s, const char *f, bool lf)
{
	const size_t debut =
	    tenues.n > 0 ? tenues.l[tenues.n - 1].fin + LECH : 0;
	const size_t besoin = debut + LECH * (size_t)(f - s) + LECH + MARGE;
	const bool decode = decodee();

	if (tenues.place < besoin) {
		char *t = (char *)std::realloc(tenues.texte, 2 * besoin);
		if (t == nullptr)
			erreur(LIRE);
		tenues.texte = t;
		tenues.place = 2 * besoin;
	}
	char *d = tenues.texte + debut;
	if (decode) {
		std::memcpy(d, s, (size_t)(f - s));
		d += f - s;
	} else
		for (const char *p = s; p < f; p++)
			d += interne(d, car1252((unsigned char)*p));
	tenues.l[tenues.n++] = {debut, (size_t)(d - tenues.texte), lf};
	d += echapper(d, '\n');
	std::memset(d, 0, MARGE);
}

/*
 * Write what the lines held make as far as they tell: a row, once its
 * cell closes; the first line as typed, once it can begin none.  At the
 * source's end (tout), every line held.
 */
static void
examiner(bool tout)
{
	const bool avant = tenirdecodee(true);

	while (tenues.n > 0) {
		size_t k = rangee();
		if (k == 0 && !tout)
			break;
		ecrirerangee(k == 0 ? 1 : k);
	}
	tenirdecodee(avant);
}

/* The lines the first line's row takes: 1 alone, 0 while none tells. */
static size_t
rangee()
{
	const char *t = tenues.texte, *debut = t + tenues.l[0].debut;
	const char *q = celluleouverte(debut, t + tenues.l[0].fin);

	if (q == nullptr)
		return 1;
	for (size_t k = 1; k < tenues.n; k++) {
		const char *fin = t + tenues.l[k].fin;
		Fermeture f = fermeture(q, fin);
		if (f == FAUSSE)
			return 1;
		/* its Q closed, its R may be a cell that goes on */
		if (f == FERMEE && (q = celluleouverte(debut, fin)) == nullptr)
			return k + 1;
	}
	return tenues.n < RANGEE ? 0 : 1;
}

/* Hand the first k lines held on as one line, counted as k. */
static void
ecrirerangee(size_t k)
{
	char *s = tenues.texte + tenues.l[0].debut;
	char *f = tenues.texte + tenues.l[k - 1].fin;
	const char *signe = premiersigne(s, f);

	traiter(regler(s, f, nullptr, signe < f), tenues.l[k - 1].lf, signe);
	ligne += (std::int64_t)k - 1;
	tenues.n -= k;
	if (tenues.n == 0)
		return;
	const size_t de = tenues.l[k].debut,
	             jusqua = tenues.l[k + tenues.n - 1].fin;
	std::memmove(
	    tenues.texte, tenues.texte + de, jusqua + LECH + MARGE - de);
	for (size_t i = 0; i < tenues.n; i++) {
		tenues.l[i] = tenues.l[i + k];
		tenues.l[i].debut -= de;
		tenues.l[i].fin -= de;
	}
}
