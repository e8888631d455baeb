/*
 * The writer: a thread of its own writes the document's full buffers to
 * the target while the run fills the next ones, beside korvum's own work
 * instead of after it.  It holds up to ENVOL pieces, written in order; a
 * failed write is told at the next hand-over or wait, which ends the run.
 * A small piece (the last, every piece of a small document) is written at
 * once: a thread would cost it more than it saves.  The thread comes with
 * the first large piece and stays, idle between pieces.  It and its lock
 * are the system's own (posix.cpp, windows.cpp): on Windows a hand-over
 * then costs no trip through the kernel's objects.
 */

#include "extern.h"

enum { PARTAGE = 65536 }; /* the smallest piece handed to the thread */

static struct {
	const char *p;
	size_t n;
} file[ENVOL];                 /* the pieces not yet written, from premiere */
static size_t premiere, nfile; /* in file */
static bool echec;             /* a write failed since the last wait */

[[noreturn]] static void ecrivain();

/*
 * Hand the n bytes at p over to the writer, once it has room for them;
 * they must stay as they are until ENVOL more pieces were handed over, or
 * until the next wait.  A small piece is written, after those before it,
 * before the call returns.  A failed write ends the run.
 */
void
livrer(const char *p, size_t n)
{
	static bool lance;
	bool ok;

	if (n >= PARTAGE && !lance)
		lance = lancer(ecrivain);
	if (n < PARTAGE || !lance) { /* or no thread: the run writes it */
		if (!ecrits() || !ecrire(p, n))
			erreur(ECRIRE);
		return;
	}
	verrouiller();
	while (nfile == ENVOL && !echec)
		patienter();
	if ((ok = !echec)) {
		file[(premiere + nfile++) % ENVOL] = {p, n};
		eveiller();
	}
	deverrouiller();
	if (!ok)
		erreur(ECRIRE);
}

/* Wait for all handed over; false when a write failed since the last wait. */
bool
ecrits()
{
	verrouiller();
	while (nfile > 0)
		patienter();
	bool ok = !echec;
	echec = false;
	deverrouiller();
	return ok;
}

/*
 * The writer's thread: write each piece handed over; after a failure,
 * drop them until the run has heard of it.  The signals that end a run
 * are the run's own thread's to take (see tenirfins).
 */
static void
ecrivain()
{
	tenirfins();
	verrouiller();
	for (;;) {
		while (nfile == 0)
			patienter();
		auto [p, n] = file[premiere];
		bool perdu = echec;
		deverrouiller();
		bool ok = perdu || ecrire(p, n);
		verrouiller();
		echec = echec || !ok;
		premiere = (premiere + 1) % ENVOL;
		nfile--;
		eveiller();
	}
}
