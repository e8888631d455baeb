/*
 * The encodings: windows-1252's table both ways, one UTF-8 sequence,
 * what a line's bytes tell of their encoding, and the vector steps this
 * processor can take.  UTF-8 and UTF-16 are decoded in decodage.cpp.
 */

#include "extern.h"

/*
 * windows-1252's characters for 0x80 to 0x9F, as Windows maps them: the
 * five unassigned bytes stand for the C1 controls of the same number.
 */
static const char16_t CAR1252[32] = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e,
    0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d,
    0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013,
    0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

/* The windows-1252 character of a byte. */
char32_t
car1252(unsigned char b)
{
	return b >= 0x80 && b < 0xa0 ? CAR1252[b - 0x80] : b;
}

/* The windows-1252 byte of a character, or -1 when it has none. */
int
octet1252(char32_t c)
{
	if (c < 0x80 || (c >= 0xa0 && c <= 0xff))
		return (int)c;
	if (c < 0xa0) /* the five C1 controls the code page leaves as such */
		return car1252((unsigned char)c) == c ? (int)c : -1;
	/* The others stand between Œ (U+0152) and ™ (U+2122), none of them
	 * among the letters of Greek, Cyrillic and most other scripts. */
	if (c < 0x152 || c > 0x2122 || (c > 0x2dc && c < 0x2013))
		return -1;
	for (int i = 0; i < 32; i++)
		if (CAR1252[i] == c)
			return 0x80 + i;
	return -1;
}

/*
 * The character the well-formed UTF-8 sequence at p encodes, its length in
 * *n; -1 when the bytes at p are not one (an overlong form, a surrogate,
 * above U+10FFFF), -2 when fin cuts them short before they went wrong.
 */
long
sequenceutf8(const unsigned char *p, const unsigned char *fin, int *n)
{
	unsigned char b = p[0];
	unsigned char bas = 0x80, haut = 0xbf; /* the second byte's range */
	long c;

	if (b < 0x80) {
		*n = 1;
		return b;
	}
	if (b < 0xc2 || b > 0xf4)
		return -1;
	*n = b <= 0xdf ? 2 : b <= 0xef ? 3 : 4;
	c = b & 0x7f >> *n; /* the lead's bits */
	if (b == 0xe0 || b == 0xf0)
		bas = b == 0xe0 ? 0xa0 : 0x90;
	else if (b == 0xed || b == 0xf4)
		haut = b == 0xed ? 0x9f : 0x8f;
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

/*
 * What the bytes [s, fin) of a line read as it is tell of its encoding:
 * ASCII when none is above 127; DIT1252 when one of those is part of no
 * well-formed UTF-8 sequence; DITUTF8 when all are, and one sequence is
 * of three or four bytes, or stands next to another or to a lowercase
 * ASCII letter; DOUTE when all are two-byte sequences that stand alone,
 * as windows-1252 also makes them (an accented capital and a sign, the
 * É… of CAFÉ…).  Unless the line ends at fin (fermee), a sequence cut
 * short there tells nothing yet, and what came before is the answer.
 * When premier, the first sequence that tells UTF-8 is the answer: the
 * caller reads the rest, which may still tell windows-1252.  No byte
 * before h is above 127.
 */
Dit
classer(
    const char *s, const char *h, const char *fin, bool fermee, bool premier)
{
	const auto *d = (const unsigned char *)s,
	           *f = (const unsigned char *)fin;
	const auto *p = (const unsigned char *)h;
	auto tient = [](unsigned char b) {
		return b >= 0x80 || (b >= 'a' && b <= 'z');
	};
	Dit dit = ASCII;

	while (p < f) {
		size_t k = premierhaut((const char *)p, (size_t)(f - p));
		if (k == NULLE)
			break;
		p += k;
		/* Most windows-1252 text tells at its first accent: a byte
		 * that begins no sequence, or a lead that no continuation
		 * follows. */
		bool tete = *p >= 0xc2 && *p <= 0xf4;
		if (!tete || (p + 1 < f && (p[1] & 0xc0) != 0x80))
			return DIT1252;
		int n = 2; /* a lead of two bytes is one, followed so */
		long c = *p <= 0xdf && p + 1 < f ? 0 : sequenceutf8(p, f, &n);
		if (c == -2 && !fermee)
			break;
		if (c < 0)
			return DIT1252;
		if (n > 2 || (p > d && tient(p[-1])) ||
		    (p + n < f && tient(p[n]))) {
			if (premier)
				return DITUTF8;
			dit = DITUTF8;
		} else if (dit == ASCII)
			dit = DOUTE;
		p += n;
	}
	return dit;
}

/*
 * The widest steps this processor can take; AVX2 with BMI1 and BMI2, its
 * bit instructions, which the line loop's AVX2 steps take too.
 */
Jeu
jeuprocesseur()
{
#ifdef KORVUM_SSSE3
	if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
	    __builtin_cpu_supports("bmi2"))
		return AVX2;
	if (__builtin_cpu_supports("ssse3"))
		return SSSE3;
#endif
	return BASE;
}

/* The byte c is held as decoded; -1 for an escape: not windows-1252, or C1. */
int
octetinterne(char32_t c)
{
	return c >= 0x80 && c < 0xa0 ? -1 : octet1252(c);
}

/* Write c as UTF-8 at d; returns its length. */
size_t
enutf8(char *d, char32_t c)
{
	size_t n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;

	for (size_t i = n - 1; i > 0; i--, c >>= 6)
		d[i] = (char)(0x80 | (c & 0x3f));
	d[0] = (char)(n == 1 ? c : 0xff00 >> n | c); /* C0, E0 or F0 */
	return n;
}
