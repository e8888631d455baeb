/*
 * The sweep: 64 bytes at a time into masks, a bit a byte (line ends, bytes
 * that need attention, above 127, an ASCII separator), and the searches of
 * one byte.  Each vector step beside its plain twin, chosen by jeu, its
 * constants derived from defs.h.
 */

#include "extern.h"

#include <bit>
#include <cstring>

#ifdef KORVUM_SSE2
#include <emmintrin.h>
#endif
#ifdef KORVUM_SSSE3
#include <immintrin.h>
#endif

static void ranger(Lot *, size_t, Masques);
static Masques balayerbase(const char *, bool, char);
#ifdef KORVUM_SSSE3
static Masques blocssse3(const char *, bool, char, __m128i, __m128i);
static void balayerssse3(const char *, bool, char, Lot *, size_t);
static std::uint64_t signesssse3(const char *);
static void moitiesavx2(const char *, bool, char, Lot *, size_t);
static void balayeravx2(const char *, bool, char, Lot *, size_t);
static std::uint64_t signesavx2(const char *);
static __m256i egaux(const char *, __m256i);
static const char *cherchebloc2(const char *, const char *, int);
#endif

/* The bytes of a class: n of them, in t. */
struct Octets {
	unsigned char t[256];
	size_t n;
};
static constexpr Octets
octetsde(Nature k, int de, int a)
{
	Octets o{};
	for (int b = de; b < a; b++)
		if ((NATURE.t[b] & k) != 0)
			o.t[o.n++] = (unsigned char)b;
	return o;
}

/* The line ends the sweep looks for: LF, and CR in a source of CRs. */
static_assert(
    octetsde(FINLF, 0, 256).n == 1 && octetsde(FINLF, 0, 256).t[0] == '\n' &&
    octetsde(FINCR, 0, 256).n == 2 && octetsde(FINCR, 0, 256).t[1] == '\r');

#ifdef KORVUM_SSE2
/* SSE2 finds the signs as the controls but SAUFCTL, and SIGNESHAUTS. */
static constexpr Octets SAUFCTL = [] {
	Octets o{};
	for (int b = 0; b < 0x20; b++)
		if ((NATURE.t[b] & SIGNE) == 0)
			o.t[o.n++] = (unsigned char)b;
	return o;
}();
static constexpr Octets SIGNESHAUTS = octetsde(SIGNE, 0x20, 256);
#endif

/*
 * SSSE3 and AVX2 look a byte's classes up by its low and its high half:
 * it needs attention when both share a bit, which adding 0x7F then shows.
 */
static constexpr struct ClassesSignes {
	alignas(32) unsigned char bas[32]; /* the table twice, for AVX2 */
	alignas(32) unsigned char haut[32];
	int n; /* classes */
} MOITIES = [] {
	ClassesSignes c{};
	unsigned ensembles[16] = {};
	for (int h = 0; h < 16; h++) {
		unsigned e = 0;
		for (int l = 0; l < 16; l++)
			e |= (NATURE.t[h << 4 | l] & SIGNE) != 0 ? 1u << l : 0;
		int k = 0;
		while (k < c.n && ensembles[k] != e)
			k++;
		if (e == 0)
			continue;
		if (k == c.n)
			ensembles[c.n++] = e;
		c.haut[h] = c.haut[h + 16] = (unsigned char)(1u << k);
		for (int l = 0; l < 16; l++)
			if ((e >> l & 1) != 0)
				c.bas[l] = c.bas[l + 16] |=
				    (unsigned char)(1u << k);
	}
	return c;
}();
static_assert(MOITIES.n <= 7, "a class of signs past the seventh");

/*
 * Sweep from p into lot the blocks of 64 that begin before fin (1 to LOT,
 * in a go to keep the constants in registers): line ends (CR too when cr),
 * bytes that need attention, above 127, and sep.  Returns their number n,
 * the n-th left clear; reads up to 63 bytes past fin.
 */
size_t
balayer(const char *p, const char *fin, bool cr, char sep, Lot *lot)
{
	size_t n = fin > p ? ((size_t)(fin - p) + 63) / 64 : 1;

	if (n > LOT)
		n = LOT;
	ranger(lot, n, Masques{0, 0, 0, 0});
#ifdef KORVUM_SSSE3
	if (jeu == AVX2) {
		balayeravx2(p, cr, sep, lot, n);
		return n;
	}
	if (jeu == SSSE3) {
		balayerssse3(p, cr, sep, lot, n);
		return n;
	}
#endif
	for (size_t i = 0; i < n; i++)
		ranger(lot, i, balayerbase(p + 64 * i, cr, sep));
	return n;
}

/* Put m in lot as its k-th block. */
static inline void
ranger(Lot *lot, size_t k, Masques m)
{
	lot->fins[k] = m.fins;
	lot->sigs[k] = m.sigs;
	lot->hauts[k] = m.hauts;
	lot->seps[k] = m.seps;
}

/* The bytes that need attention among the 64 at p, as balayer finds them. */
std::uint64_t
signes(const char *p)
{
#ifdef KORVUM_SSSE3
	if (jeu == AVX2)
		return signesavx2(p);
	if (jeu == SSSE3)
		return signesssse3(p);
#endif
	return balayerbase(p, false, '\n').sigs;
}

/* A block of balayer's sweep with SSE2, or byte by byte. */
static inline Masques
balayerbase(const char *p, bool cr, char sep)
{
	Masques m = {0, 0, 0, 0};
#ifdef KORVUM_SSE2
	const __m128i c1f = _mm_set1_epi8(0x1f), vsep = _mm_set1_epi8(sep);
	for (int i = 0; i < 64; i += 16) {
		__m128i v =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + i));
		auto egal = [v](unsigned char c) {
			return _mm_cmpeq_epi8(v, _mm_set1_epi8((char)c));
		};
		__m128i sauf = egal(SAUFCTL.t[0]), a;
		for (size_t k = 1; k < SAUFCTL.n; k++)
			sauf = _mm_or_si128(sauf, egal(SAUFCTL.t[k]));
		a = _mm_andnot_si128(
		    sauf, _mm_cmpeq_epi8(_mm_min_epu8(v, c1f), v));
		for (size_t k = 0; k < SIGNESHAUTS.n; k++)
			a = _mm_or_si128(a, egal(SIGNESHAUTS.t[k]));
		__m128i lf = egal('\n');
		if (cr)
			lf = _mm_or_si128(lf, egal('\r'));
		m.fins |= (std::uint64_t)(unsigned)_mm_movemask_epi8(lf) << i;
		m.sigs |= (std::uint64_t)(unsigned)_mm_movemask_epi8(a) << i;
		m.hauts |= (std::uint64_t)(unsigned)_mm_movemask_epi8(v) << i;
		m.seps |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		              _mm_cmpeq_epi8(v, vsep))
		          << i;
	}
#else
	for (int i = 0; i < 64; i++) {
		m.fins |=
		    (std::uint64_t)(cr ? est<FINCR>(p[i]) : est<FINLF>(p[i]))
		    << i;
		m.sigs |= (std::uint64_t)est<SIGNE>(p[i]) << i;
		m.hauts |= (std::uint64_t)((unsigned char)p[i] >= 0x80) << i;
		m.seps |= (std::uint64_t)(p[i] == sep) << i;
	}
#endif
	return m;
}

#ifdef KORVUM_SSSE3
/* A block of balayer's sweep with SSSE3, MOITIES' classes in bas and haut. */
__attribute__((target("ssse3"))) static inline Masques
blocssse3(const char *p, bool cr, char sep, __m128i bas, __m128i haut)
{
	const __m128i f = _mm_set1_epi8(0x0f), lf = _mm_set1_epi8('\n');
	const __m128i r = _mm_set1_epi8(cr ? '\r' : '\n');
	const __m128i x7f = _mm_set1_epi8(0x7f), vsep = _mm_set1_epi8(sep);
	Masques m = {0, 0, 0, 0};

	for (int i = 0; i < 64; i += 16) {
		__m128i v =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + i));
		__m128i c =
		    _mm_and_si128(_mm_shuffle_epi8(bas, _mm_and_si128(v, f)),
		        _mm_shuffle_epi8(
		            haut, _mm_and_si128(_mm_srli_epi16(v, 4), f)));
		m.fins |=
		    (std::uint64_t)(unsigned)_mm_movemask_epi8(_mm_or_si128(
		        _mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, r)))
		    << i;
		m.sigs |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		              _mm_adds_epu8(c, x7f))
		          << i;
		m.hauts |= (std::uint64_t)(unsigned)_mm_movemask_epi8(v) << i;
		m.seps |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		              _mm_cmpeq_epi8(v, vsep))
		          << i;
	}
	return m;
}

/* The bytes that need attention among the 64 at p, with SSSE3. */
__attribute__((target("ssse3"))) static std::uint64_t
signesssse3(const char *p)
{
	return blocssse3(p, false, '\n',
	    _mm_load_si128((const __m128i *)(const void *)MOITIES.bas),
	    _mm_load_si128((const __m128i *)(const void *)MOITIES.haut))
	    .sigs;
}

/* balayer's sweep of the n blocks at p, with SSSE3. */
__attribute__((target("ssse3"))) static void
balayerssse3(const char *p, bool cr, char sep, Lot *lot, size_t n)
{
	const __m128i bas =
	    _mm_load_si128((const __m128i *)(const void *)MOITIES.bas);
	const __m128i haut =
	    _mm_load_si128((const __m128i *)(const void *)MOITIES.haut);

	for (size_t j = 0; j < n; j++, p += 64)
		ranger(lot, j, blocssse3(p, cr, sep, bas, haut));
}

/* The bytes among the 32 of v that need attention, with AVX2. */
__attribute__((target("avx2"))) static inline unsigned
classesavx2(__m256i v)
{
	const __m256i bas =
	    _mm256_load_si256((const __m256i *)(const void *)MOITIES.bas);
	const __m256i haut =
	    _mm256_load_si256((const __m256i *)(const void *)MOITIES.haut);
	const __m256i f = _mm256_set1_epi8(0x0f);
	__m256i c =
	    _mm256_and_si256(_mm256_shuffle_epi8(bas, _mm256_and_si256(v, f)),
	        _mm256_shuffle_epi8(
	            haut, _mm256_and_si256(_mm256_srli_epi16(v, 4), f)));
	return (unsigned)_mm256_movemask_epi8(
	    _mm256_adds_epu8(c, _mm256_set1_epi8(0x7f)));
}

/* balayerssse3 with AVX2, 32 bytes a step, a half of each block's words. */
__attribute__((target("avx2"), always_inline)) static inline void
moitiesavx2(const char *p, bool cr, char sep, Lot *lot, size_t n)
{
	const __m256i lf = _mm256_set1_epi8('\n');
	const __m256i r = _mm256_set1_epi8('\r');
	const __m256i vsep = _mm256_set1_epi8(sep);
	auto mettre = [](std::uint64_t *a, size_t i, unsigned m) {
		std::memcpy((char *)a + 4 * i, &m, 4);
	};

	for (size_t i = 0; i < 2 * n; p += 64) {
		for (size_t h = 0; h < 2; h++, i++) {
			__m256i v = _mm256_loadu_si256(
			    (const __m256i *)(const void *)(p + 32 * h));
			__m256i f = _mm256_cmpeq_epi8(v, lf);
			if (cr)
				f = _mm256_or_si256(f, _mm256_cmpeq_epi8(v, r));
			mettre(lot->fins, i, (unsigned)_mm256_movemask_epi8(f));
			mettre(lot->sigs, i, classesavx2(v));
			mettre(
			    lot->hauts, i, (unsigned)_mm256_movemask_epi8(v));
			mettre(lot->seps, i,
			    (unsigned)_mm256_movemask_epi8(
			        _mm256_cmpeq_epi8(v, vsep)));
		}
	}
}

/* balayer's sweep of the n blocks at p, with AVX2. */
__attribute__((target("avx2"))) static void
balayeravx2(const char *p, bool cr, char sep, Lot *lot, size_t n)
{
	if (cr)
		moitiesavx2(p, true, sep, lot, n);
	else
		moitiesavx2(p, false, sep, lot, n);
}

/* The bytes c among the 32 at p, with AVX2. */
__attribute__((target("avx2"))) static inline __m256i
egaux(const char *p, __m256i c)
{
	return _mm256_cmpeq_epi8(
	    _mm256_loadu_si256((const __m256i *)(const void *)p), c);
}

/* cherchebloc with AVX2, 256 bytes a go while 193 are left, then cherche. */
__attribute__((target("avx2"))) static const char *
cherchebloc2(const char *p, const char *fin, int c)
{
	const __m256i v = _mm256_set1_epi8((char)c);

	for (; fin - p > 192; p += 256) {
		__m256i e = egaux(p, v);
		for (int i = 32; i < 256; i += 32)
			e = _mm256_or_si256(e, egaux(p + i, v));
		if (!_mm256_testz_si256(e, e))
			break;
	}
	return cherche(p, fin, c);
}

/* The bytes that need attention among the 64 at p, with AVX2. */
__attribute__((target("avx2"))) static std::uint64_t
signesavx2(const char *p)
{
	return classesavx2(
	           _mm256_loadu_si256((const __m256i *)(const void *)p)) |
	       (std::uint64_t)classesavx2(
	           _mm256_loadu_si256((const __m256i *)(const void *)(p + 32)))
	           << 32;
}
#endif

/*
 * The first byte c in [p, fin), or nullptr: memchr inlined for a line's
 * short spans, 32 bytes a step; reads up to 31 past fin, in the margin.
 */
const char *
cherche(const char *p, const char *fin, int c)
{
#ifdef KORVUM_SSE2
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

/* cherche for a block, 64 bytes a step, 63 past fin (some memchr crawl). */
const char *
cherchebloc(const char *p, const char *fin, int c)
{
#ifdef KORVUM_SSSE3
	if (jeu == AVX2)
		return cherchebloc2(p, fin, c);
#endif
#ifdef KORVUM_SSE2
	const __m128i v = _mm_set1_epi8((char)c);
	for (; p < fin; p += 64) {
		auto egal = [p, v](int i) {
			return _mm_cmpeq_epi8(
			    _mm_loadu_si128(
			        (const __m128i *)(const void *)(p + i)),
			    v);
		};
		__m128i e = _mm_or_si128(_mm_or_si128(egal(0), egal(16)),
		    _mm_or_si128(egal(32), egal(48)));
		if (_mm_movemask_epi8(e) != 0)
			return cherche(p, fin, c);
	}
	return nullptr;
#else
	return (const char *)std::memchr(p, c, (size_t)(fin - p));
#endif
}

/*
 * The place of the first byte above 127 among the n at p, or NULLE: SSE2
 * 64 a step, then eight, as an ASCII source is looked through each read.
 */
size_t
premierhaut(const char *p, size_t n)
{
	size_t i = 0;

#ifdef KORVUM_SSE2
	for (; i + 64 <= n; i += 64) {
		auto v = [p, i](size_t k) {
			return _mm_loadu_si128(
			    (const __m128i *)(const void *)(p + i + k));
		};
		if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(v(0), v(16)),
		        _mm_or_si128(v(32), v(48)))) != 0)
			break;
	}
#endif
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
