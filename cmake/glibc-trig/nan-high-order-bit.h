/* x86: a quiet NaN has the high bit of its mantissa set. */
#define HIGH_ORDER_BIT_IS_SET_FOR_SNAN 0
