/*
 * Control functions of the stand-in chassis-query library (libzelqpxi.so.1).
 *
 * The stand-in serves the chassis of the simulated world (zelsim.h) through
 * the 17 zelqpxi_* entry points. Tests reach these extra functions with dlsym
 * on the loaded library: they inject failures, count calls and check that
 * every handle handed out was closed exactly once.
 *
 * Codes the stand-in reports on its own:
 */
#ifndef ZELQPXI_SIM_H
#define ZELQPXI_SIM_H

#include <stdint.h>

#define ZELQPXI_SIM_NOT_FOUND (-53001)      /* no such chassis, slot or device */
#define ZELQPXI_SIM_INVALID_HANDLE (-53002) /* handle unknown, closed, or of the wrong kind */
#define ZELQPXI_SIM_NO_ATTRIBUTE (-53003)   /* the item has no such attribute */
#define ZELQPXI_SIM_ITERATION_DONE (-53004) /* nextItem past the end of a container */

#ifdef __cplusplus
extern "C" {
#endif

/* The nth call from now (1 = the next one) of `entry_point` (e.g.
 * "zelqpxi_ItemIterator_nextItem") fails with `code` and a JSON description.
 * The failing call still returns 0 / NULL and hands out no handle. */
void zelqpxi_sim_fail(const char *entry_point, int32_t code, unsigned nth);
/* Calls of `entry_point` since the last reset. */
unsigned long zelqpxi_sim_calls(const char *entry_point);
/* Forget pending failures and call counts (open handles stay open). */
void zelqpxi_sim_reset(void);

/* Item handles (sessions, chassis, slots) handed out and not yet closed. */
unsigned zelqpxi_sim_open_items(void);
/* Containers handed out and not yet destroyed. */
unsigned zelqpxi_sim_open_containers(void);
/* close / destroyItemContainer / any call on a handle that is not open
 * (closed twice, never handed out): each such call counts here. */
unsigned zelqpxi_sim_bad_handles(void);

#ifdef __cplusplus
}
#endif

#endif /* ZELQPXI_SIM_H */
