/*
 * Runs of plain lines: most lines of a list, taken straight from the
 * masks of the blocks swept, with none of the line loop's bookkeeping.  A
 * line may join a run when it ends at an LF within the blocks, holds no
 * byte that needs attention (or, in a run with signs, none but '&', '<'
 * and ']'), reads as it stands (see lisible), and its record fits what is
 * left of the document's buffer.  Then its bounds go to regler, as every
 * line's do, and its record is written straight into that buffer.
 */

#include "lignes.h"

#include <algorithm>
#include <cstddef>

/* Where a run of plain lines stops, and why (see lignesclaires). */
enum Arret : size_t { PRISE, AILLEURS, SIGNEES, REPRENDRE };

/* Where a run stopped: the start of the line it left, and why. */
struct Suite {
	size_t p;
	Arret arret;
};

/*
 * A line as the masks show it, from the run's first block: its LF e; its
 * first sign g, byte above 127 h and separator q, or e; its signs' bits
 * from g when all are within 64 bytes of it, or 0; whether it may join.
 */
struct Vue {
	size_t e, g, h, q;
	std::uint64_t vus;
	Arret arret;
};

static std::uint64_t apartir(const std::uint64_t *, size_t);
static bool signesclairs(const char *, std::uint64_t);
static void voir(const char *, const Lot *, size_t, std::uint64_t, bool, Vue *);
static void longue(const char *, const Lot *, size_t, size_t, bool, Vue *);
static bool lisible(const char *, const char *, bool);
static Suite lignesclaires(const char *, size_t, const Lot *, size_t, bool);
static Suite clairs(const char *, size_t, const Lot *, size_t);
static Suite clairsignes(const char *, size_t, const Lot *, size_t);
#ifdef KORVUM_SSSE3
static Suite clairsavx2(const char *, size_t, const Lot *, size_t);
static Suite clairsignesavx2(const char *, size_t, const Lot *, size_t);
#endif

/* The 64 bits of b, an array of a Lot, from the o-th byte's; reads one past. */
static inline std::uint64_t
apartir(const std::uint64_t *b, size_t o)
{
	b += o / 64;
	return b[0] >> o % 64 | b[1] << 1 << (63 - o % 64);
}

/*
 * The bits of lot's array k from the o-th byte's: 57 at least, in one read
 * from one address for all four arrays, and clear past them.
 */
enum Tableau : size_t {
	FINS = offsetof(Lot, fins),
	SIGS = offsetof(Lot, sigs),
	HAUTS = offsetof(Lot, hauts),
	SEPS = offsetof(Lot, seps)
};
static inline std::uint64_t
bitsdepuis(const Lot *lot, Tableau k, size_t o)
{
	const char *a = (const char *)lot + k;

	if constexpr (std::endian::native == std::endian::little) {
		std::uint64_t w;
		__builtin_memcpy(&w, a + o / 8, 8);
		return w >> (o % 8);
	}
	return apartir((const std::uint64_t *)(const void *)a, o);
}

/*
 * Whether every byte that bits marks in the 64 at b is '&', '<' or ']',
 * which a record writes with nothing to report.
 */
static inline bool
signesclairs(const char *b, std::uint64_t bits)
{
	static constexpr struct Clairs {
		bool t[256];
	} CLAIRS = [] {
		Clairs c{};
		c.t[(int)'&'] = c.t[(int)'<'] = c.t[(int)']'] = true;
		return c;
	}();

	for (; bits != 0; bits &= bits - 1)
		if (!CLAIRS.t[(unsigned char)b[std::countr_zero(bits)]])
			return false;
	return true;
}

/*
 * The line at p in t that ends within the bits bitsdepuis reads, fins its
 * line ends from p; signs, all clear, join only a run avecsignes.
 */
__attribute__((always_inline)) static inline void
voir(const char *t, const Lot *lot, size_t p, std::uint64_t fins,
    bool avecsignes, Vue *v)
{
	/* the line and its LF, which is no sign */
	const std::uint64_t sigs =
	    bitsdepuis(lot, SIGS, p) & (fins ^ (fins - 1));

	v->e = v->g = p + rang(fins);
	/* the first at or past the end is the end */
	v->h = p + rang(bitsdepuis(lot, HAUTS, p) | fins);
	v->q = p + rang(bitsdepuis(lot, SEPS, p) | fins);
	v->vus = 0;
	v->arret = PRISE;
	if (sigs == 0)
		return;
	v->arret = !signesclairs(t + p, sigs) ? AILLEURS
	           : avecsignes               ? PRISE
	                                      : SIGNEES;
	v->g = p + rang(sigs);
	v->vus = sigs >> (v->g - p);
}

/* voir for a longer line: block by block, to its end within the n blocks. */
__attribute__((always_inline)) static inline void
longue(
    const char *t, const Lot *lot, size_t n, size_t p, bool avecsignes, Vue *v)
{
	size_t k = p / 64, ss = NULLE, hs = NULLE, qs = NULLE;

	v->arret = AILLEURS;
	for (std::uint64_t garde = ~0ull << p % 64;; k++, garde = ~0ull) {
		const std::uint64_t fins = lot->fins[k] & garde;
		const std::uint64_t avantfin =
		    fins != 0 ? (fins & (0 - fins)) - 1 : ~0ull;
		const std::uint64_t sigs = lot->sigs[k] & garde & avantfin;
		if (fins == 0 && k + 1 >= n)
			return; /* it does not end within the blocks */
		if (sigs != 0 && !signesclairs(t + 64 * k, sigs))
			return;
		if (sigs != 0 && !avecsignes) {
			v->arret = SIGNEES;
			return;
		}
		ss = std::min(ss, position(64 * k, sigs));
		hs = std::min(
		    hs, position(64 * k, lot->hauts[k] & garde & avantfin));
		qs = std::min(
		    qs, position(64 * k, lot->seps[k] & garde & avantfin));
		if (fins != 0) {
			v->e = 64 * k + rang(fins);
			break;
		}
	}
	v->g = std::min(ss, v->e);
	v->h = std::min(hs, v->e);
	v->q = std::min(qs, v->e);
	v->vus = v->g < v->e && v->e - v->g < 64 ? apartir(lot->sigs, v->g) : 0;
	v->arret = PRISE;
}

/*
 * Whether the line at s, its first byte above 127 at h, reads as it
 * stands: at once, as windows-1252, when seul (the source is told by its
 * bytes, and h begins no UTF-8 sequence).
 */
static inline bool
lisible(const char *s, const char *h, bool seul)
{
	if (seul) {
		dit1252();
		return true;
	}
	return lisibletelle(s, h);
}

/*
 * Take the run of lines at p in t, swept into the n blocks of lot, their
 * records straight into the document's buffer.  Stops at the first line
 * that may not join (SIGNEES when its signs are all clear and the run is
 * without), just past a markup line (REPRENDRE when it leaves the reader
 * free), or past a line after which the reader is not free.
 */
__attribute__((always_inline)) static inline Suite
lignesclaires(
    const char *t, size_t p, const Lot *lot, size_t n, bool avecsignes)
{
	/* the lines are told by their bytes (see lisible) */
	const bool octets = parleursoctets(t, t + 64 * n);
	char *limite, *d = place(&limite);
	/* below it, the record of any line that bitsdepuis reads fits; a longer
	 * one is held to its room */
	const auto borne = (std::uintptr_t)limite -
	                   (avecsignes ? pireplace(64) : TAILLEFICHE + 64);
	Arret arret = AILLEURS;

	for (;;) {
		const std::uint64_t fins = bitsdepuis(lot, FINS, p);
		Vue v;
		if (fins != 0)
			voir(t, lot, p, fins, avecsignes, &v);
		else {
			longue(t, lot, n, p, avecsignes, &v);
			/* its record may take more than borne leaves */
			if (v.arret == PRISE &&
			    (std::uintptr_t)d +
			            (v.e - p) * (avecsignes ? 8 : 1) >
			        (std::uintptr_t)limite - TAILLEFICHE)
				v.arret = AILLEURS;
		}
		if ((arret = v.arret) != PRISE || (std::uintptr_t)d > borne ||
		    (v.h < v.e && !lisible(t + p, t + v.h,
		                      octets && (signed char)t[v.h + 1] >= 0)))
			break;
		Ligne l =
		    regler(t + p, finligne(t + p, t + v.e), t + v.q, false);
		p = v.e + 1;
		if (l.verdict == FICHE && (!avecsignes || v.g == v.e))
			d = fiche(d, champq(l), champr(l));
		else if (l.verdict == SANSSEPAR)
			avertir();
		else if (l.verdict == FICHE) {
			d = fichesignes(
			    d, champq(l), champr(l), t + v.g, v.vus);
			if (!lecteurlibre())
				break;
		} else if (l.verdict == BALISE) {
			rendre(d);
			balise(l.s, (size_t)(l.f - l.s), true);
			return {p, lecteurlibre() ? REPRENDRE : AILLEURS};
		}
	}
	rendre(d);
	return {p, arret == PRISE ? AILLEURS : arret};
}

/*
 * lignesclaires without signs, inlined, and with them, apart: the code
 * that writes signs would slow the first down.
 */
__attribute__((flatten)) static Suite
clairs(const char *t, size_t p, const Lot *lot, size_t n)
{
	return lignesclaires(t, p, lot, n, false);
}

__attribute__((noinline, flatten)) static Suite
clairsignes(const char *t, size_t p, const Lot *lot, size_t n)
{
	return lignesclaires(t, p, lot, n, true);
}

#ifdef KORVUM_SSSE3
/* clairs and clairsignes with BMI's bit instructions: a tenth fewer. */
__attribute__((target("avx2,bmi,bmi2"), flatten)) static Suite
clairsavx2(const char *t, size_t p, const Lot *lot, size_t n)
{
	return lignesclaires(t, p, lot, n, false);
}

__attribute__((target("avx2,bmi,bmi2"), noinline, flatten)) static Suite
clairsignesavx2(const char *t, size_t p, const Lot *lot, size_t n)
{
	return lignesclaires(t, p, lot, n, true);
}
#endif

/*
 * Take the runs of plain lines from tampon[debut], the n blocks of lot
 * swept from tampon[base], until a line that must go the loop's way;
 * return where it begins.  Each way that takes a line is counted.
 */
size_t
prendreclaires(
    const char *tampon, size_t debut, size_t base, const Lot *lot, size_t n)
{
	const char *t = tampon + base;
	Suite s = {debut - base, REPRENDRE};

	while (s.arret == REPRENDRE || s.arret == SIGNEES) {
		const bool signes = s.arret == SIGNEES;
		const size_t p = s.p;
#ifdef KORVUM_SSSE3
		if (jeu == AVX2) {
			s = signes ? clairsignesavx2(t, p, lot, n)
			           : clairsavx2(t, p, lot, n);
			if (s.p != p)
				emprunter(
				    signes ? CLAIRSIGNESAVX2 : CLAIRSAVX2);
			continue;
		}
#endif
		s = signes ? clairsignes(t, p, lot, n) : clairs(t, p, lot, n);
		if (s.p != p)
			emprunter(signes ? CLAIRSIGNES : CLAIRS);
	}
	return base + s.p;
}
