/*
 * The rules of a line, written once (their parts out of line in
 * regles.cpp): every way through the loop hands the bounds of a line to
 * regler, which says what the line gives; the ways differ only in how they
 * find those bounds and write what it says.
 */
#pragma once

#include "extern.h"

#include <bit>

/* What a line gives, by its rules. */
enum Verdict { BLANCHE, BALISE, FICHE, SANSSEPAR };

/*
 * A line read by its rules: its text [s, f), which a markup line keeps
 * whole and any other has its trailing blanks cut of; for a record, its
 * fields [s, sep) and [r, f), its separator between them.
 */
struct Ligne {
	const char *s, *f, *sep, *r;
	Verdict verdict;
};

/* A separator found: where it stands, or nullptr, and its length. */
struct Separateur {
	const char *p;
	size_t n;
};

/* How a cell that a line left open ends in the lines after (fermeture). */
enum Fermeture { OUVERTE, FERMEE, FAUSSE };

void preparersepar();
Separateur cherchesepar(const char *, const char *);
void citer(Ligne *, const char *);
const char *celluleouverte(const char *, const char *);
Fermeture fermeture(const char *, const char *);

/* lignes.cpp */
const char *premiersigne(const char *, const char *);

/* rangees.cpp */
void accueillir(const char *, const char *, bool, const char *, const char *);
bool rangeeouverte();
void finirrangees();

/* Where the text of [s, fin) begins, past its blanks; fin is looked at. */
static inline const char *
debutchaine(const char *s, const char *fin)
{
	while (est<BLANC>(*s) && s < fin)
		s++;
	return s;
}

/* Where the text that ends at fin ends, less its blanks: not all are. */
static inline const char *
rtrim(const char *fin)
{
	while (est<BLANC>(fin[-1]))
		fin--;
	return fin;
}

/* Where the line [s, e) ends, e its LF: CRs before an LF end it too. */
static inline const char *
finligne(const char *s, const char *e)
{
	while (e > s && e[-1] == '\r')
		e--;
	return e;
}

/*
 * Whether the separator is looked for before a line's trailing blanks are
 * cut: a TAB, which ends a row whose last cell a spreadsheet left empty;
 * a space is cut first, as no editor shows it.
 */
static inline bool
sepavantblancs()
{
	return separ == '\t';
}

/*
 * Count the line [s, fin), without its line end, and say what it gives:
 * nothing, when blank; markup, when '<' comes first past its blanks; else
 * a record split at its first separator, its trailing blanks cut (a TAB
 * separator among them gives an empty R), or a warning without one.  vu,
 * unless nullptr, is where the sweep found the first separator: before s
 * when among the leading blanks (then it is looked for), at or past fin
 * for none.  A line that may hold a quote (cite) is read by citer.
 */
__attribute__((always_inline)) static inline Ligne
regler(const char *s, const char *fin, const char *vu, bool cite)
{
	Ligne l = {s, fin, vu, nullptr, FICHE};
	const char *const bout = fin; /* before its trailing blanks */

	ligne++;
	if (s == fin || est<BLANC | BALISE1>(*s)) {
		l.s = s = debutchaine(s, fin);
		if (s == fin || *s == '<') {
			l.verdict = s == fin ? BLANCHE : BALISE;
			return l;
		}
	}
	l.f = fin = rtrim(fin);
	if ((std::uintptr_t)vu < (std::uintptr_t)s) { /* nullptr too */
		Separateur c = cherchesepar(s, sepavantblancs() ? bout : fin);
		l.sep = c.p;
		l.r = c.p + c.n;
		l.f = l.r > fin ? l.r : fin;
	} else if (vu < fin)
		l.r = vu + 1;
	else if (vu < bout && sepavantblancs())
		l.f = l.r = vu + 1;
	else
		l.sep = nullptr;
	if (cite)
		citer(&l, bout);
	if (l.sep == nullptr)
		l.verdict = SANSSEPAR;
	return l;
}

/* The fields of a record that regler split. */
static inline Champ
champq(const Ligne &l)
{
	return {l.s, (size_t)(l.sep - l.s)};
}

static inline Champ
champr(const Ligne &l)
{
	return {l.r, (size_t)(l.f - l.r)};
}

/*
 * Write what regler said of a line: its markup, with its line end when
 * lf; its warning; or its record, whose first byte that needs attention
 * stands at signe, or past it.
 */
static inline void
traiter(const Ligne &l, bool lf, const char *signe)
{
	if (l.verdict == BALISE)
		balise(l.s, (size_t)(l.f - l.s), lf);
	else if (l.verdict == SANSSEPAR)
		avertir();
	else if (l.verdict == FICHE)
		enregistrement(champq(l), champr(l), signe, 0);
}

/* Where the lowest bit set in x, which is not 0, stands. */
static inline size_t
rang(std::uint64_t x)
{
	return (unsigned)__builtin_ctzll(x);
}

/*
 * Where the first byte that bits marks in the 64-byte block at base
 * stands, or NULLE when it marks none.  (A form without a branch cost
 * more instructions than the branch's rare mispredictions save.)
 */
static inline size_t
position(size_t base, std::uint64_t bits)
{
	return bits != 0 ? base + rang(bits) : NULLE;
}
