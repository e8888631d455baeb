/*
 * UTF-8 and UTF-16 decoded into windows-1252 with escapes (see ECH), ASCII
 * and Latin-1 letters 8, 16 or 32 bytes a step, each vector step beside
 * its plain twin, chosen by jeu.
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

size_t echappes; /* escapes held in the decoded text so far */

static size_t pasutf8(char *, const unsigned char *, unsigned char *);
#ifdef KORVUM_SSSE3
static size_t pasutf8ssse3(char *, const unsigned char *);
static size_t pasutf8avx2(char *, const unsigned char *, size_t, size_t *);
static size_t lotutf8avx2(
    char *, const unsigned char *, const unsigned char *, size_t *);
static size_t latinutf16avx2(
    char *, const unsigned char *, const unsigned char *, bool);
#endif
static size_t latinutf16(
    char *, const unsigned char *, const unsigned char *, bool);

/*
 * Decode the eight UTF-8 bytes at p to d, without a branch, when they are
 * ASCII and at most two Latin-1 letters (C2 A0 to C3 BF), and return the
 * bytes made, else 0: a letter's first byte is shifted out.  A letter may
 * begin in the eighth byte (*suite keeps it) or in the last eight.  Reads
 * p[8]; writes eight bytes.
 */
static inline size_t
pasutf8(char *d, const unsigned char *p, unsigned char *suite)
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
/* Per set of letters' first bytes among eight: the bytes kept, how many. */
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
 * pasutf8, sixteen bytes with SSSE3, any number of letters, shuffled out
 * eight at a time; none may begin in the sixteenth byte.  Writes 16 bytes.
 */
__attribute__((target("ssse3"))) static size_t
pasutf8ssse3(char *d, const unsigned char *p)
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
		return 0; /* (a letter begun in byte 16 sets bit 16) */
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

/*
 * pasutf8ssse3 with AVX2, so that most lines take one step: of the reste
 * bytes at p, 32 (31 when a letter begins in the 32nd) or all, how many in
 * *pris; a letter cut by the end fails it.  Reads and writes 32 bytes.
 */
__attribute__((target("avx2"))) static inline size_t
pasutf8avx2(char *d, const unsigned char *p, size_t reste, size_t *pris)
{
	__m256i v = _mm256_loadu_si256((const __m256i *)(const void *)p);
	__m256i c3 = _mm256_cmpeq_epi8(v, _mm256_set1_epi8((char)0xc3));
	__m256i c2 = _mm256_cmpeq_epi8(v, _mm256_set1_epi8((char)0xc2));
	std::uint64_t lim = reste >= 32 ? 0xffffffffu : (1ull << reste) - 1;
	std::uint64_t tetes = (std::uint64_t)(unsigned)_mm256_movemask_epi8(
	                          _mm256_or_si256(c3, c2)) &
	                      lim;

	*pris = reste >= 32 ? 32 : reste;
	if (reste > 32 && tetes >> 31 != 0) { /* its second byte is next */
		tetes &= lim = 0x7fffffff;
		*pris = 31;
	}
	std::uint64_t haut = (std::uint64_t)(unsigned)_mm256_movemask_epi8(v) &
	                     lim,
	              seconds = tetes << 1;
	std::uint64_t b6 = (std::uint64_t)(unsigned)_mm256_movemask_epi8(
	    _mm256_slli_epi16(v, 1));
	std::uint64_t b5 = (std::uint64_t)(unsigned)_mm256_movemask_epi8(
	    _mm256_slli_epi16(v, 2));
	std::uint64_t apresc2 =
	    (std::uint64_t)(unsigned)_mm256_movemask_epi8(c2) << 1 & seconds;
	if (haut != (tetes | seconds) || (tetes & seconds) != 0 ||
	    (seconds & b6) != 0 || (apresc2 & ~b5) != 0)
		return 0; /* (a letter cut short sets a bit past lim) */

	/* C3 xx is xx + 0x40: c3 moved one byte on, across the halves. */
	__m256i apres =
	    _mm256_alignr_epi8(c3, _mm256_permute2x128_si256(c3, c3, 0x08), 15);
	v = _mm256_add_epi8(v, _mm256_and_si256(apres, _mm256_set1_epi8(0x40)));
	unsigned g[4];
	for (int i = 0; i < 4; i++)
		g[i] = (unsigned)(tetes >> (8 * i)) & 0xff;
	auto ordre = [g](int i) {
		return _mm_loadl_epi64(
		    (const __m128i *)(const void *)TRI.ordre[g[i]]);
	};
	const __m128i huit = _mm_set1_epi8(8);
	__m256i r = _mm256_shuffle_epi8(v,
	    _mm256_inserti128_si256(
	        _mm256_castsi128_si256(
	            _mm_unpacklo_epi64(ordre(0), _mm_add_epi8(ordre(1), huit))),
	        _mm_unpacklo_epi64(ordre(2), _mm_add_epi8(ordre(3), huit)), 1));
	__m128i bas = _mm256_castsi256_si128(r),
	        hautes = _mm256_extracti128_si256(r, 1);
	_mm_storel_epi64((__m128i *)(void *)d, bas);
	size_t k = TRI.garde[g[0]];
	_mm_storel_epi64((__m128i *)(void *)(d + k), _mm_srli_si128(bas, 8));
	k += TRI.garde[g[1]];
	_mm_storel_epi64((__m128i *)(void *)(d + k), hautes);
	k += TRI.garde[g[2]];
	_mm_storel_epi64((__m128i *)(void *)(d + k), _mm_srli_si128(hautes, 8));
	k += TRI.garde[g[3]];
	return k - (32 - *pris); /* the bytes past the line were kept last */
}

/* pasutf8avx2 over [p, f) while it takes; bytes made, in *lus those taken. */
__attribute__((target("avx2"))) static size_t
lotutf8avx2(
    char *d, const unsigned char *p, const unsigned char *f, size_t *lus)
{
	const unsigned char *p0 = p;
	char *d0 = d;
	size_t l, pris;

	/* the steps with more than 32 bytes to go, which the compiler then
	 * makes without the checks of a line's last bytes, then the last */
	while (
	    f - p > 32 && (l = pasutf8avx2(d, p, (size_t)(f - p), &pris)) > 0) {
		d += l;
		p += pris;
	}
	while (p < f && (l = pasutf8avx2(d, p, (size_t)(f - p), &pris)) > 0) {
		d += l;
		p += pris;
	}
	*lus = (size_t)(p - p0);
	return (size_t)(d - d0);
}
#endif

/*
 * Decode the UTF-8 [p, p + n) to d and return the bytes made; it stops
 * before a byte of no sequence (*lus, the bytes decoded, is then below n).
 * Reads and writes up to 32 bytes past the end.
 */
size_t
decodeutf8(char *d, const unsigned char *p, size_t n, size_t *lus)
{
	const unsigned char *p0 = p, *f = p + n, *essai = p;
	unsigned char suite = 0;
	char *d0 = d;

	/* The steps are tried again 16 bytes past one that failed: a word
	 * in another script costs one failure, not one a letter. */
	while (p < f) {
		size_t l8;
#ifdef KORVUM_SSSE3
		size_t pris;
		if (jeu == AVX2 && suite == 0 && p >= essai &&
		    (l8 = pasutf8avx2(d, p, (size_t)(f - p), &pris)) > 0) {
			/* and the steps that follow, in a loop of their own */
			d += l8;
			p += pris;
			d += lotutf8avx2(d, p, f, &pris);
			p += pris;
			continue;
		}
		if (jeu >= SSSE3 && suite == 0 && f - p >= 16 && p >= essai) {
			if ((l8 = pasutf8ssse3(d, p)) > 0) {
				d += l8;
				p += 16;
				continue;
			}
			essai = p + 16;
		}
#endif
		if (f - p > 8 && (p >= essai || suite != 0)) {
			if ((l8 = pasutf8(d, p, &suite)) > 0) {
				d += l8;
				p += 8;
				continue;
			}
			essai = p + 16;
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
			break;
		}
		p += k;
		d += k;
		if (k == 8)
			continue;

		int l = 2;
		long c = p[0] >= 0xc2 && p[0] <= 0xdf && p + 1 < f &&
		                 (p[1] & 0xc0) == 0x80
		             ? (p[0] & 0x1f) << 6 | (p[1] & 0x3f)
		             : sequenceutf8(p, f, &l);
		if (c < 0) {
			*lus = (size_t)(p - p0);
			return (size_t)(d - d0);
		}
		d += interne(d, (char32_t)c);
		p += l;
	}
	*lus = n;
	return (size_t)(d - d0);
}

#ifdef KORVUM_SSSE3
/* The units of v that are their own windows-1252 byte, all bits set. */
__attribute__((target("avx2"))) static inline __m256i
siensavx2(__m256i v)
{
	const __m256i haut = _mm256_set1_epi16((short)0xff00);
	const __m256i c1 = _mm256_set1_epi16((short)0xffe0);
	const __m256i x80 = _mm256_set1_epi16(0x80);

	return _mm256_andnot_si256(
	    _mm256_cmpeq_epi16(_mm256_and_si256(v, c1), x80),
	    _mm256_cmpeq_epi16(
	        _mm256_and_si256(v, haut), _mm256_setzero_si256()));
}

/* latinutf16 with AVX2, 32 characters a step; how many were copied. */
__attribute__((target("avx2"))) static size_t
latinutf16avx2(char *d, const unsigned char *p, const unsigned char *f, bool be)
{
	const __m256i echange =
	    _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15,
	        14, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
	size_t k = 0;

	for (; f - p >= 64; p += 64, k += 32) {
		__m256i a =
		    _mm256_loadu_si256((const __m256i *)(const void *)p);
		__m256i b =
		    _mm256_loadu_si256((const __m256i *)(const void *)(p + 32));
		if (be) {
			a = _mm256_shuffle_epi8(a, echange);
			b = _mm256_shuffle_epi8(b, echange);
		}
		if (_mm256_movemask_epi8(
		        _mm256_and_si256(siensavx2(a), siensavx2(b))) != -1)
			break;
		_mm256_storeu_si256((__m256i *)(void *)(d + k),
		    _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xd8));
	}
	return k;
}
#endif

/*
 * Copy the UTF-16 [p, f) to d while each character is its own
 * windows-1252 byte, and return how many; writes up to 7 bytes past.
 */
static inline size_t
latinutf16(char *d, const unsigned char *p, const unsigned char *f, bool be)
{
	size_t k = 0;
#ifdef KORVUM_SSSE3
	if (jeu == AVX2) {
		k = latinutf16avx2(d, p, f, be);
		p += 2 * k;
	}
#endif
#ifdef KORVUM_SSE2
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
 * Decode the UTF-16 [p, p + n) (big-endian when be) to d; return the bytes
 * made, in *pris those read.  A lone surrogate, or when fini a last odd
 * byte, is U+FFFD; a unit or pair cut at n waits, unless fini.
 */
size_t
decodeutf16(
    char *d, const unsigned char *p, size_t n, bool be, bool fini, size_t *pris)
{
	const int hi = be ? 0 : 1; /* the high byte's place */
	const unsigned char *p0 = p, *f = p + n;
	char *d0 = d;

	while (f - p >= 2) {
		size_t k = latinutf16(d, p, f, be);
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
	*pris = (size_t)(p - p0);
	return (size_t)(d - d0);
}
