/* No aliases: the functions are built under names of their own. */
#define libm_alias_float(from, to)
