/*
 * The writer: a thread of its own that writes the document's full
 * buffers to the target while the run fills the next ones, so that the
 * system's copy of the document goes on beside korvum's own work instead
 * of after it.  It holds up to ENVOL pieces, written in the order handed
 * over; a failed write is told at the next hand-over or wait, which ends
 * the run as before.  A small piece (the last, and every piece of a small
 * document) is written at once: a thread would cost it more than it
 * saves.  The thread comes with the first large piece and stays until the
 * process ends, idle between pieces; what it waits on is never destroyed,
 * so that the end of the process does not wait on it.
 */

#include "extern.h"

#include <condition_variable>
#include <mutex>
#include <thread>

enum { PARTAGE = 65536 }; /* the smallest piece handed to the thread */

static std::mutex &verrou = *new std::mutex;
static std::condition_variable &reveil = *new std::condition_variable;
static struct {
	const char *p;
	size_t n;
} file[ENVOL];                 /* the pieces not yet written, from premiere */
static size_t premiere, nfile; /* in file */
static bool echec;             /* a write failed since the last wait */

static void ecrivain();

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

	if (n < PARTAGE) {
		if (!ecrits() || !ecrire(p, n))
			erreur(ECRIRE);
		return;
	}
	if (!lance) {
		std::thread(ecrivain).detach();
		lance = true;
	}
	{
		std::unique_lock<std::mutex> l(verrou);
		reveil.wait(l, [] { return nfile < ENVOL || echec; });
		if ((ok = !echec)) {
			file[(premiere + nfile++) % ENVOL] = {p, n};
			reveil.notify_all();
		}
	}
	if (!ok)
		erreur(ECRIRE);
}

/*
 * Wait until the writer has written all it was handed; false when a
 * write failed since the last wait.
 */
bool
ecrits()
{
	std::unique_lock<std::mutex> l(verrou);

	reveil.wait(l, [] { return nfile == 0; });
	bool ok = !echec;
	echec = false;
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
	std::unique_lock<std::mutex> l(verrou);
	for (;;) {
		reveil.wait(l, [] { return nfile > 0; });
		auto [p, n] = file[premiere];
		bool perdu = echec;
		l.unlock();
		bool ok = perdu || ecrire(p, n);
		l.lock();
		echec = echec || !ok;
		premiere = (premiere + 1) % ENVOL;
		nfile--;
		reveil.notify_all();
	}
}
