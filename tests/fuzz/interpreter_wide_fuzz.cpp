// The script program with a wider dictionary: the same harness (each input
// a script, text or binary, run as an application of its own, its left-open
// files closed, its descriptors counted, and the blocks the description's
// makers answer it passed over by the leak check, being the script's), fed
// the words of every procedure that allocates, pools or gives back, so that
// its inputs make and give back objects and blocks in every order.
#include "fuzz/interpreter_fuzz.cpp"
