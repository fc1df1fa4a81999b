/* Keeps an expression that is computed only for its floating-point exceptions. */
#define math_force_eval(x)                                                                         \
    do {                                                                                           \
        __typeof(x) force_eval_ = (x);                                                             \
        __asm__ __volatile__("" : : "m"(force_eval_));                                             \
    } while (0)
