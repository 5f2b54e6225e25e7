; Two short records in IG text format.
; FRAGMENT 12 -> 131
HSP70X heat shock protein fragment
ATGGCTAAAG CCGCAGCGAT TGGTATCGAT CTGGGTACCA CCTACTCTTG CGTGGGTGTT
TTCCAACACG GCAAGGTGGA GATCATCGCC AACGACCAGG GCAACCGCAC CACCCCCAGC
TACGTGGCCT TCACGGACNN NNAC 1
;
; cloned region, partially unsequenced
pUC19-ORI
ttgagatcct ttttttctgc gcgtaatctg ctgcttgcaa acaaaaaaac caccgctacc
agcggtggtt tgtttgccgg atcaagagct accaactctt tttccgaagg taactggctt
cagcagagcg cagataccaa nnnnnntcct tctagtgtag ccgtagttag 1
