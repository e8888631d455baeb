/*
 * The line loop: the source read in blocks, cut into lines as a Windows
 * text stream cuts them, each line's text read in its encoding and handed
 * to regler (lignes.h).  Most lines go by runs instead (clairs.cpp),
 * straight from the sweep's masks; the loop takes the others one by one.
 */

#include "lignes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

enum { REPRISE = 512 }; /* bytes left to the loop after a run took none */

static char *tampon;  /* read buffer; grows with the longest line */
static size_t taille; /* its size */

/*
 * Where the loop stands in tampon[debut, fin), the bytes not yet handled,
 * and what it knows of the source.  The lines end at fl: LF (the CRs just
 * before it are part of the line end), unless the start of the text holds
 * CRs and not a single LF: then CR and LF alike, CR LF being one (saut:
 * an LF at debut ends the line before).  Until the start decides, no line
 * is handled; nor, in a source read as it is, the lines from its first
 * byte above 127 (haut) until the encoding of a line that does not tell
 * is known (connu, deciderdebut).  Runs of plain lines may be taken
 * (clair) from reprise on; sepvu is the separator's byte for the sweep,
 * when sepbalaye.
 */
struct Lecture {
	size_t debut, fin, haut, reprise;
	char fl, sepvu;
	bool sepbalaye, epuise, connu, saut, clair;
};

/*
 * Where the sweep stands: m is lot[k], of nlot blocks swept ahead, for
 * tampon[base, base + 64), less the bits of the lines handled.  The line
 * begun holds a sign before base when signeavant; premier and sepavant
 * are its first byte above 127 and separator there, or NULLE.
 */
struct Balayage {
	Lot lot;
	size_t k, nlot, base;
	Masques m;
	size_t premier, sepavant;
	bool signeavant;
};

/*
 * A line found, before its text is read in its encoding: its bytes
 * [s, f) without its line end; its first byte above 127 at h, unless
 * ascii; its first sign, or where it may stand, at signe (f when none);
 * where the sweep found its separator (see regler); whether it ended at
 * a line end; and whether, decoded, its signs must be looked for again.
 */
struct Trouvee {
	const char *s, *f, *h, *signe, *sep;
	bool ascii, lf, revoir;
};

/* What the loop found: a line, a line end that is no line, or neither. */
enum Trouve { LIGNE, SAUTEE, RIEN };

static void prendre(Lecture *, Balayage *);
static void avancer(const Lecture *, Balayage *);
static Trouve trouver(Lecture *, Balayage *, Trouvee *);
static void simple(Lecture *, Balayage *, size_t, Trouvee *);
static Trouve soignee(Lecture *, Balayage *, size_t, Trouvee *);
static void passer(const Trouvee *);
static void relire(Lecture *, Balayage *);
static void deplacer(Lecture *, Balayage *);
static void decidefins(Lecture *, Balayage *);
static Masques bloc(const Lot *, size_t);
static Masques depuis(Masques, size_t);
static std::uint64_t entre(size_t, size_t, size_t);
static const char *sansmarque(const char *, const char *);
static char *zero(const char *, const char *, size_t, std::uint64_t, bool);
static bool ascii7(size_t, std::uint64_t);

/*
 * Read the source in blocks and hand each line to regler, by runs of
 * plain lines where they may go, one by one otherwise.
 */
void
convertir()
{
	Lecture lec = {};
	Balayage bal;
	Trouvee tr;

	bal.k = bal.nlot = bal.base = 0;
	bal.m = Masques{0, 0, 0, 0};
	bal.premier = bal.sepavant = lec.haut = NULLE;
	bal.signeavant = false;
	preparersepar();
	/* The sweep finds an ASCII separator but LF, which is never in a
	 * line; LF stands for none. */
	lec.sepbalaye = separ != 0 && separ < 0x80 && separ != '\n';
	lec.sepvu = lec.sepbalaye ? (char)separ : '\n';
	taille = 3 * BLOC; /* a block, and its UTF-8 decoded (see
	                      decoderlignes), beside a line begun */
	if ((tampon = (char *)std::malloc(taille + MARGE)) == nullptr)
		erreur(LIRE);
	for (;;) {
		if (lec.clair && lec.debut >= lec.reprise &&
		    lec.debut - bal.base < 64 &&
		    (lec.connu || lec.haut == NULLE) && lecteurlibre() &&
		    !rangeeouverte())
			prendre(&lec, &bal);
		Trouve r = trouver(&lec, &bal, &tr);
		if (r == LIGNE)
			passer(&tr);
		else if (r == RIEN && lec.epuise)
			break;
		else if (r == RIEN)
			relire(&lec, &bal);
	}
	finirrangees();
	std::free(tampon);
	tampon = nullptr;
}

/* Take the runs of plain lines that come next, or leave REPRISE bytes. */
static void
prendre(Lecture *lec, Balayage *bal)
{
	size_t b0 = bal->base - 64 * bal->k;
	size_t d = prendreclaires(tampon, lec->debut, b0, &bal->lot, bal->nlot);

	if (d == lec->debut) {
		lec->reprise = lec->debut + REPRISE;
		return;
	}
	lec->debut = d;
	bal->k = std::min((d - b0) / 64, bal->nlot - 1);
	bal->base = b0 + 64 * bal->k;
	bal->m = depuis(bloc(&bal->lot, bal->k), d - bal->base);
}

/*
 * Move the sweep on to the block of the next line end, or the last block
 * read, noting what the line begun holds in the blocks it leaves.
 */
static inline void
avancer(const Lecture *lec, Balayage *bal)
{
	while (bal->m.fins == 0 && bal->base + 64 < lec->fin) {
		bal->signeavant = bal->signeavant || bal->m.sigs != 0;
		bal->premier =
		    std::min(bal->premier, position(bal->base, bal->m.hauts));
		bal->sepavant =
		    std::min(bal->sepavant, position(bal->base, bal->m.seps));
		bal->base += 64;
		if (++bal->k == bal->nlot) {
			bal->nlot =
			    balayer(tampon + bal->base, tampon + lec->fin,
			        lec->fl == '\r', lec->sepvu, &bal->lot);
			bal->k = 0;
		}
		bal->m = bloc(&bal->lot, bal->k);
	}
}

/*
 * Find the next line in what was read, the simple or the careful way; RIEN
 * when no whole line is there, or the encoding of its start is unknown.
 */
static Trouve
trouver(Lecture *lec, Balayage *bal, Trouvee *tr)
{
	avancer(lec, bal);
	const bool bout = bal->m.fins != 0;
	const size_t e = bout ? bal->base + rang(bal->m.fins) : lec->fin;
	const bool lisible = lec->connu || e < lec->haut;

	if (bout && lec->fl == '\n' && lisible && !bal->signeavant &&
	    (bal->m.sigs & ((bal->m.fins & (0 - bal->m.fins)) - 1)) == 0) {
		simple(lec, bal, e, tr);
		return LIGNE;
	}
	if (lec->fl != '\0' &&
	    (bout || (lec->epuise && lec->debut < lec->fin)) && lisible)
		return soignee(lec, bal, e, tr);
	return RIEN;
}

/*
 * The line that ends at the LF at e and holds nothing that needs
 * attention (nor, before the encoding is known, a byte above 127).  Its
 * first byte above 127 and first separator, or its end when it holds
 * none, are found without a branch, as lines with and without them come
 * in no order.
 */
static inline void
simple(Lecture *lec, Balayage *bal, size_t e, Trouvee *tr)
{
	Masques &m = bal->m;
	const std::uint64_t ici = m.fins & (0 - m.fins), avantici = ici - 1;
	const std::uint64_t hauts = m.hauts & avantici;

	tr->ascii = (bal->premier == NULLE) & (hauts == 0);
	tr->s = tampon + lec->debut;
	tr->f = tr->signe = finligne(tr->s, tampon + e);
	tr->h = tampon + std::min(bal->premier, bal->base + rang(hauts | ici));
	tr->sep =
	    lec->sepbalaye
	        ? tampon + std::min(bal->sepavant,
	                       bal->base + rang((m.seps & avantici) | ici))
	        : nullptr;
	tr->lf = true;
	tr->revoir = false;
	m.seps &= ~avantici;
	m.hauts &= ~avantici;
	m.fins &= m.fins - 1;
	bal->premier = bal->sepavant = NULLE;
	lec->debut = e + 1;
	emprunter(SIMPLE);
}

/*
 * Any other line, that ends at e (its line end, or the end of the
 * source): its zero byte, which ends its text, its CR line end, its
 * signs and its bytes above 127 looked at one by one.  SAUTEE for the LF
 * of a CR LF in a source of CR line ends, which ends no line.
 */
static Trouve
soignee(Lecture *lec, Balayage *bal, size_t e, Trouvee *tr)
{
	Masques &m = bal->m;
	const bool bout = m.fins != 0;
	const std::uint64_t ici = m.fins & (0 - m.fins), avantici = ici - 1;
	/* its bits: up to its line end, or the last line's, to the end */
	const std::uint64_t dans =
	    bout ? avantici : entre(bal->base, lec->debut, lec->fin);
	const std::uint64_t siens = m.sigs & dans, hauts = m.hauts & dans;
	const size_t hors = std::min(
	    bal->premier, bal->base + (size_t)std::countr_zero(m.hauts | ici));
	const bool propre = !bal->signeavant && siens == 0,
	           entier = !bal->signeavant && bout;
	tr->ascii = bal->premier == NULLE && hauts == 0;
	m.sigs &= 0 - (ici << 1);
	m.hauts &= 0 - (ici << 1);
	m.seps &= 0 - (ici << 1);
	m.fins &= m.fins - 1;
	bal->premier = bal->sepavant = NULLE;
	bal->signeavant = false;
	if (lec->saut && bout && e == lec->debut && tampon[e] == '\n') {
		lec->saut = false; /* the LF of a CR LF */
		lec->debut = e + 1;
		return SAUTEE;
	}
	lec->saut = bout && tampon[e] == '\r';
	const char *s = tampon + lec->debut;
	const char *f = lec->fl == '\n' ? finligne(s, tampon + e) : tampon + e;
	const char *z = propre ? nullptr : zero(s, f, bal->base, siens, entier);
	tr->s = s;
	tr->f = z != nullptr ? z : f;
	tr->signe = propre   ? tr->f
	            : entier ? tampon + bal->base + std::countr_zero(siens)
	                     : s;
	tr->h = tampon + hors;
	tr->sep = nullptr;
	tr->lf = bout && z == nullptr;
	/* Decoded, what needs attention in a UTF-8 line is an ASCII byte
	 * that did, or an escape. */
	tr->revoir = !propre && (!entier || ascii7(bal->base, siens));
	lec->debut = bout ? e + 1 : lec->fin;
	emprunter(SOIGNEE);
	return LIGNE;
}

/* Hand the line found on: its text in its encoding, less a leading mark. */
static void
passer(const Trouvee *tr)
{
	const char *s = sansmarque(tr->s, tr->f), *f = tr->f, *h = tr->h;
	const char *signe = tr->signe, *sep = tr->sep;
	bool ascii = tr->ascii;

	if ((h < s || h >= f) & !ascii) {
		/* a mark was dropped, or a zero byte ended the text */
		size_t i = premierhaut(s, (size_t)(f - s));
		ascii = i == NULLE;
		h = ascii ? s : s + i;
	}
	const size_t echappesavant = echappes;
	const char *d = texteligne(s, h, f, &f, ascii);
	if (d != s) {
		signe = echappes != echappesavant || tr->revoir
		            ? premiersigne(d, f)
		            : f;
		sep = nullptr;
	}
	/* a quote is a sign: a line without signs holds none */
	accueillir(d, f, tr->lf, sep, signe);
}

/*
 * Read the next block of the source after the bytes not yet handled,
 * where the source ends (at its end, or at a 0x1A), and sweep it.  A
 * block of UTF-8 lines is decoded as it is read (decoderlignes); the
 * line ends are decided from the start of the text.
 */
static void
relire(Lecture *lec, Balayage *bal)
{
	deplacer(lec, bal);
	size_t n = remplir(tampon + lec->fin, taille - lec->fin);
	if (n == 0)
		lec->epuise = true;
	std::memset(tampon + lec->fin + n, 0, MARGE);
	const char *cz =
	    cherchebloc(tampon + lec->fin, tampon + lec->fin + n, 0x1a);
	if (cz != nullptr) {
		n = (size_t)(cz - (tampon + lec->fin));
		lec->epuise = true;
		tarir();
	}
	lec->connu = avantconnu();
	if (lec->connu && lec->fl == '\n')
		n = decoderlignes(&tampon, lec->fin, n, taille);
	if (!lec->connu && lec->haut == NULLE &&
	    (lec->haut = premierhaut(tampon + lec->fin, n)) != NULLE)
		lec->haut += lec->fin;
	lec->fin += n;
	decidefins(lec, bal);
	if (!lec->connu && lec->haut != NULLE && lec->fl != '\0')
		lec->connu =
		    deciderdebut(tampon + lec->debut, tampon + lec->haut,
		        tampon + lec->fin, lec->epuise, lec->fl == '\r');
	std::memset(tampon + lec->fin, 0, MARGE);
	bal->nlot = balayer(tampon + bal->base, tampon + lec->fin,
	    lec->fl == '\r', lec->sepvu, &bal->lot);
	bal->k = 0;
	bal->m = bloc(&bal->lot, 0);
}

/* Move the bytes not yet handled to the front, and make room for a block. */
static void
deplacer(Lecture *lec, Balayage *bal)
{
	const size_t d = lec->debut;

	if (d > 0) {
		std::memmove(tampon, tampon + d, lec->fin - d);
		lec->fin -= d;
		lec->haut -= lec->haut != NULLE ? d : 0;
		bal->premier -= bal->premier != NULLE ? d : 0;
		bal->sepavant -= bal->sepavant != NULLE ? d : 0;
		lec->reprise = lec->reprise > d ? lec->reprise - d : 0;
		bal->base = bal->base > d ? bal->base - d : 0;
		lec->debut = 0;
	}
	if (taille - lec->fin < BLOC) {
		char *n = (char *)std::realloc(tampon, 2 * taille + MARGE);
		if (n == nullptr)
			erreur(LIRE);
		tampon = n;
		taille *= 2;
	}
}

/*
 * The line ends, from the start of the text: LF once one is there; CR
 * and LF, once FENETRE bytes or the whole source hold CRs and no LF,
 * which are then swept again.
 */
static void
decidefins(Lecture *lec, Balayage *bal)
{
	size_t debuttexte = lec->fin < FENETRE ? lec->fin : FENETRE;

	if (lec->fl == '\0' &&
	    cherchebloc(tampon, tampon + debuttexte, '\n') != nullptr)
		lec->fl = '\n';
	else if (lec->fl == '\0' && (lec->epuise || lec->fin >= FENETRE)) {
		lec->fl =
		    cherchebloc(tampon, tampon + debuttexte, '\r') != nullptr
		        ? '\r'
		        : '\n';
		bal->base = 0; /* sweep again, for CRs */
		bal->signeavant = false;
		bal->premier = bal->sepavant = NULLE;
	}
	lec->clair = lec->fl == '\n' && lec->sepbalaye;
}

/* The k-th block of lot. */
static inline Masques
bloc(const Lot *lot, size_t k)
{
	return {lot->fins[k], lot->sigs[k], lot->hauts[k], lot->seps[k]};
}

/* The bits of m for the bytes from the o-th on (none when o is 64 or more). */
static inline Masques
depuis(Masques m, size_t o)
{
	std::uint64_t pris = o < 64 ? ~0ull << o : 0;

	return {m.fins & pris, m.sigs & pris, m.hauts & pris, m.seps & pris};
}

/* The bits of the 64-byte block at base for the bytes of [a, b). */
static inline std::uint64_t
entre(size_t base, size_t a, size_t b)
{
	size_t lo = a > base ? a - base : 0, hi = b - base;

	if (lo >= 64 || hi <= lo)
		return 0;
	return (hi >= 64 ? ~0ull : (1ull << hi) - 1) & (~0ull << lo);
}

/*
 * Where the text of the line [s, fin) begins once a byte-order mark that
 * starts it is dropped: joined files leave one at the start of a line,
 * and it is no text.  It is EF BB BF in a line read as it is, and the
 * escape of U+FEFF in one held decoded.
 */
static const char *
sansmarque(const char *s, const char *fin)
{
	const auto *u = (const unsigned char *)s;

	if (u[0] != 0xef && u[0] != ECH) /* how each mark begins */
		return s;
	if (huitbits() && !decodeealecture(s))
		return marqueutf8(s, (size_t)(fin - s)) ? s + 3 : s;
	return u[0] == ECH && fin - s >= (long)LECH && caractereech(s) == 0xfeff
	           ? s + LECH
	           : s;
}

/*
 * The first zero byte of the line [s, f), which ends its text, or
 * nullptr.  When the block at base holds the whole line (entier), siens
 * has the bits of the line's bytes that need attention there, and a zero
 * byte is one of them.
 */
static char *
zero(
    const char *s, const char *f, size_t base, std::uint64_t siens, bool entier)
{
	if (!entier)
		return (char *)cherche(s, f, 0);
	for (; siens != 0; siens &= siens - 1) {
		char *c = tampon + base + std::countr_zero(siens);
		if (*c == '\0')
			return c;
	}
	return nullptr;
}

/* Whether a byte that siens marks in the block at base is ASCII. */
static bool
ascii7(size_t base, std::uint64_t siens)
{
	for (; siens != 0; siens &= siens - 1)
		if ((unsigned char)tampon[base + rang(siens)] < 0x80)
			return true;
	return false;
}

/* The first byte of [s, fin) that needs attention, or fin; reads 63 past. */
const char *
premiersigne(const char *s, const char *fin)
{
	for (const char *p = s; p < fin; p += 64) {
		std::uint64_t m = signes(p);
		if (m != 0)
			return p + std::countr_zero(m) < fin
			           ? p + std::countr_zero(m)
			           : fin;
	}
	return fin;
}
