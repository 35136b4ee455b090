select rights
  from ßXX.user_details_s#
 where username = user
